// TCP over IPv4: the few socket calls the FTP session needs, the same on
// POSIX systems and on Windows. Failures raise ESocketError with Winsock's
// numbering everywhere, so a user sees the same text on every system.
#pragma once

#include "platform/errors.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

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
constexpr int kErrAddressInUse = 10048;      // address and port already taken
constexpr int kErrAddressNotAvailable = 10049;
constexpr int kErrHostNotFound = 11001;

// The description of a socket error number; empty when the table has none.
std::string SocketErrorDescription(int code);

// A native error number (errno, or WSAGetLastError() on Windows) in Winsock's
// numbering. Numbers without a counterpart are kept as they are.
int SocketErrorFromNative(int nativeCode);

// Four decimal parts separated by dots, each a byte value ("10.0.0.1").
bool IsDottedIPv4(const std::string &text);

// The first IPv4 address of a host name, as dotted text. Raises ESocketError
// when the name service does not know it.
std::string ResolveIPv4(const std::string &host);

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

    static Socket CreateTcp();

    bool IsOpen() const;
    // An abortive close resets the connection instead of ending it in order.
    void Close(bool abortive = false);

    // ip "" means any local address; port 0 lets the system choose one.
    void Bind(const std::string &ip, int port);
    void Listen(int backlog);
    // timeoutMs <= 0 waits as long as the platform allows.
    void Connect(const std::string &ip, int port, int timeoutMs = 0);

    // One incoming connection, or nothing when timeoutMs ran out first
    // (timeoutMs <= 0 waits without limit).
    std::optional<Socket> Accept(int timeoutMs);

    // Sends from data; returns how many bytes the socket took, or nothing when
    // it took none within the send time limit.
    std::optional<std::size_t> Send(const char *data, std::size_t length);
    // Time limit of one Send; 0 for none.
    void SetSendTimeout(int timeoutMs);

    // Receives at most length bytes; 0 means the peer ended the connection;
    // nothing when no data came within timeoutMs (timeoutMs <= 0: no limit).
    std::optional<std::size_t> Receive(char *buffer, std::size_t length, int timeoutMs);

    // The local IPv4 address (dotted) and port the socket is bound to.
    std::string LocalAddress() const;
    int LocalPort() const;

private:
    using Handle = std::uintptr_t;
    static constexpr Handle kInvalid = ~Handle(0);
    explicit Socket(Handle h) : handle_(h) {}
    // Waits until the socket is readable (or writable); false on time-out.
    bool Wait(bool forWrite, int timeoutMs);

    Handle handle_ = kInvalid;
};

}  // namespace qv::net
