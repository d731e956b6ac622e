// TCP over IPv4 and IPv6: the few socket calls the FTP session needs, the same
// on POSIX systems and on Windows. Failures raise ESocketError with Winsock's
// numbering everywhere, so a user sees the same text on every system.
//
// Addresses travel as text ("10.0.0.1", "::1", "fe80::1%2"); a text with a
// colon is IPv6. A socket is blocking when created; the session switches its
// sockets to non-blocking and does every wait itself with Poll(), in short
// slices, so the window stays alive while the server takes its time.
#pragma once

#include "platform/errors.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv::net {

// "Socket Error # %d\r\n%s". The number is in Winsock's numbering (10061 for a
// refused connection, 11001 for an unknown host); numbers outside the table of
// descriptions get an empty description.
class ESocketError : public Exception {
public:
    explicit ESocketError(int code);
    int code() const { return code_; }

private:
    int code_;
};

// Winsock numbers used by the callers.
constexpr int kErrWouldBlock = 10035;
constexpr int kErrAddressInUse = 10048;      // address and port already taken
constexpr int kErrAddressNotAvailable = 10049;
constexpr int kErrConnectionReset = 10054;
constexpr int kErrTimedOut = 10060;
constexpr int kErrHostNotFound = 11001;

// The description of a socket error number; empty when the table has none.
std::string SocketErrorDescription(int code);

// A native error number (errno, or WSAGetLastError() on Windows) in Winsock's
// numbering. Numbers without a counterpart are kept as they are.
int SocketErrorFromNative(int nativeCode);

enum class Family { IPv4, IPv6 };

// Four decimal parts separated by dots, each a byte value ("10.0.0.1").
bool IsDottedIPv4(const std::string &text);

// A numeric IPv6 address ("::1", "2001:db8::5", "fe80::1%2"); brackets are
// not part of it.
bool IsIPv6Address(const std::string &text);

// The family of an address text: IPv6 when it holds a colon.
Family FamilyOf(const std::string &address);

// The first IPv4 address of a host name, as dotted text. Raises ESocketError
// when the name service does not know it.
std::string ResolveIPv4(const std::string &host);

// The addresses to try, in turn, for a host name: all its IPv4 addresses,
// then all its IPv6 ones. A numeric address (IPv6 also in brackets) is the
// only one, as it is. Raises ESocketError when the name service does not know
// the name.
std::vector<std::string> ResolveAll(const std::string &host);

// This computer's host name; empty when the system does not give one.
std::string LocalHostName();

// One TCP socket; closed when the object goes away. Move-only.
class Socket {
public:
    Socket() = default;
    ~Socket();
    Socket(Socket &&other) noexcept;
    Socket &operator=(Socket &&other) noexcept;
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;

    static Socket CreateTcp(Family family = Family::IPv4);

    bool IsOpen() const;
    Family family() const { return family_; }
    // An abortive close resets the connection instead of ending it in order,
    // so the peer learns that what it received is not all there is.
    void Close(bool abortive = false);

    // ip "" means any local address; port 0 lets the system choose one.
    void Bind(const std::string &ip, int port);
    void Listen(int backlog);
    // timeoutMs <= 0 waits as long as the platform allows.
    void Connect(const std::string &ip, int port, int timeoutMs = 0);

    // Non-blocking connection in two steps: StartConnect() returns true when
    // the connection is up at once, false while it is under way; once Poll()
    // reports the socket writable, FinishConnect() raises the attempt's
    // failure, if any. The socket is left non-blocking.
    bool StartConnect(const std::string &ip, int port);
    void FinishConnect();

    void SetNonBlocking(bool on);

    // Whether the socket is readable (or writable) within timeoutMs (0: just
    // look; < 0: no limit). An error or the peer's close counts as ready: the
    // next call reports it.
    bool Poll(bool forWrite, int timeoutMs);

    // One incoming connection, or nothing when timeoutMs ran out first
    // (timeoutMs <= 0 waits without limit; a non-blocking listener with
    // nothing pending gives nothing at once). The new socket is blocking.
    std::optional<Socket> Accept(int timeoutMs);

    // Sends from data; returns how many bytes the socket took, or nothing when
    // it took none (within the send time limit, or at once when non-blocking).
    std::optional<std::size_t> Send(const char *data, std::size_t length);
    // Time limit of one blocking Send; 0 for none.
    void SetSendTimeout(int timeoutMs);

    // Receives at most length bytes; 0 means the peer ended the connection;
    // nothing when no data came within timeoutMs (timeoutMs <= 0: no limit
    // for a blocking socket, none at all for a non-blocking one).
    std::optional<std::size_t> Receive(char *buffer, std::size_t length, int timeoutMs);

    // Ends the sending direction in order; receiving goes on.
    void ShutdownSend();

    // The local and remote ends: address text and port.
    std::string LocalAddress() const;
    int LocalPort() const;
    std::string PeerAddress() const;
    int PeerPort() const;

    // The system's handle, for a TLS layer that needs it; ~0 when closed.
    std::uintptr_t NativeHandle() const { return handle_; }

private:
    using Handle = std::uintptr_t;
    static constexpr Handle kInvalid = ~Handle(0);
    Socket(Handle h, Family f) : handle_(h), family_(f) {}

    Handle handle_ = kInvalid;
    Family family_ = Family::IPv4;
    // Between StartConnect() and FinishConnect(): a write wait then also
    // watches for the attempt's failure.
    bool connecting_ = false;
};

}  // namespace qv::net
