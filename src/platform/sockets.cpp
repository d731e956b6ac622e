// TCP sockets, the part every system shares: the error texts, addresses and
// names, and the Socket class over the calls of sockets_native.h, which
// sockets_posix.cpp or sockets_windows.cpp (whichever the build takes)
// provide.
#include "platform/sockets.h"

#include "platform/sockets_native.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace qv::net {

namespace {

struct Description {
    int code;
    const char *text;
};

// Fixed texts: the same on every system, whatever the system's own wording.
const Description kDescriptions[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
};

std::string formatSocketError(int code)
{
    char head[48];
    std::snprintf(head, sizeof head, "Socket Error # %d\r\n", code);
    return head + SocketErrorDescription(code);
}

using native::SockLen;
using native::sock;

void startup() { native::Startup(); }
int lastNative() { return native::LastError(); }

[[noreturn]] void raiseLast() { throw ESocketError(SocketErrorFromNative(lastNative())); }

// Parses dotted IPv4 text into network byte order; false when it is not one.
bool parseIPv4(const std::string &text, in_addr &out)
{
    unsigned char parts[4];
    std::size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.')
                return false;
            ++i;
        }
        std::size_t start = i;
        unsigned value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            value = value * 10 + unsigned(text[i] - '0');
            if (value > 255)
                return false;
            ++i;
        }
        if (i == start)
            return false;
        parts[part] = static_cast<unsigned char>(value);
    }
    if (i != text.size())
        return false;
    std::memcpy(&out, parts, 4);
    return true;
}

// Numeric IPv6 text (with an optional zone after %) through the system's
// own parser, which knows every short form.
bool parseIPv6(const std::string &text, sockaddr_in6 &out)
{
    if (text.empty() || text.find(':') == std::string::npos || text.find_first_of("[] \t") != std::string::npos)
        return false;
    startup();
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo *list = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &list) != 0 || !list)
        return false;
    bool ok = list->ai_family == AF_INET6 && list->ai_addrlen >= sizeof(sockaddr_in6);
    if (ok)
        std::memcpy(&out, list->ai_addr, sizeof out);
    freeaddrinfo(list);
    return ok;
}

struct SockAddr {
    sockaddr_storage storage{};
    SockLen length = 0;
    const sockaddr *get() const { return reinterpret_cast<const sockaddr *>(&storage); }
    sockaddr *get() { return reinterpret_cast<sockaddr *>(&storage); }
};

SockAddr makeAddress(Family family, const std::string &ip, int port)
{
    if (port < 0 || port > 65535)
        throw ESocketError(kErrAddressNotAvailable);
    SockAddr a;
    if (family == Family::IPv4) {
        auto *sa = reinterpret_cast<sockaddr_in *>(&a.storage);
        sa->sin_family = AF_INET;
        sa->sin_port = htons(static_cast<std::uint16_t>(port));
        if (ip.empty())
            sa->sin_addr.s_addr = htonl(INADDR_ANY);
        else if (!parseIPv4(ip, sa->sin_addr))
            throw ESocketError(kErrAddressNotAvailable);
        a.length = sizeof(sockaddr_in);
    } else {
        auto *sa = reinterpret_cast<sockaddr_in6 *>(&a.storage);
        if (ip.empty()) {
            sa->sin6_family = AF_INET6;
            sa->sin6_addr = in6addr_any;
        } else if (!parseIPv6(ip, *sa)) {
            throw ESocketError(kErrAddressNotAvailable);
        }
        sa->sin6_port = htons(static_cast<std::uint16_t>(port));
        a.length = sizeof(sockaddr_in6);
    }
    return a;
}

std::string dotted(const in_addr &addr)
{
    const auto *b = reinterpret_cast<const unsigned char *>(&addr);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

// The text of an address, with an IPv6 zone as the system writes it.
std::string addressText(const sockaddr *sa, SockLen length)
{
    if (sa->sa_family == AF_INET)
        return dotted(reinterpret_cast<const sockaddr_in *>(sa)->sin_addr);
    char text[NI_MAXHOST] = {};
    if (getnameinfo(sa, length, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
        throw ESocketError(kErrAddressNotAvailable);
    return text;
}

int portOf(const sockaddr_storage &ss)
{
    if (ss.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in *>(&ss)->sin_port);
    return ntohs(reinterpret_cast<const sockaddr_in6 *>(&ss)->sin6_port);
}


// The host's addresses for TCP in the order they are to be tried: its IPv4
// ones first, as the program always connected, then its IPv6 ones, each in
// the name service's order and once. IPv4 first, because an office whose IPv6
// leads nowhere would otherwise sit out a failing attempt at every upload.
std::vector<std::string> addressesOf(const std::string &host, int family)
{
    startup();
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (rc != 0)
        throw ESocketError(native::LookupError(rc));
    std::vector<std::string> out;
    try {
        for (int wanted : {AF_INET, AF_INET6})
            for (addrinfo *a = list; a; a = a->ai_next) {
                if (!a->ai_addr || a->ai_family != wanted)
                    continue;
                std::string text = addressText(a->ai_addr, static_cast<SockLen>(a->ai_addrlen));
                if (std::find(out.begin(), out.end(), text) == out.end())
                    out.push_back(std::move(text));
            }
    } catch (...) {
        freeaddrinfo(list);
        throw;
    }
    freeaddrinfo(list);
    if (out.empty())
        throw ESocketError(kErrHostNotFound);
    return out;
}

}  // namespace

ESocketError::ESocketError(int code) : Exception(formatSocketError(code)), code_(code) {}

std::string SocketErrorDescription(int code)
{
    for (const auto &d : kDescriptions)
        if (d.code == code)
            return d.text;
    return {};
}

bool IsDottedIPv4(const std::string &text)
{
    in_addr addr;
    return parseIPv4(text, addr);
}

bool IsIPv6Address(const std::string &text)
{
    sockaddr_in6 sa{};
    return parseIPv6(text, sa);
}

Family FamilyOf(const std::string &address)
{
    return address.find(':') != std::string::npos ? Family::IPv6 : Family::IPv4;
}

std::string ResolveIPv4(const std::string &host) { return addressesOf(host, AF_INET).front(); }

std::vector<std::string> ResolveAll(const std::string &host)
{
    if (IsDottedIPv4(host) || IsIPv6Address(host))
        return {host};
    if (host.size() > 2 && host.front() == '[' && host.back() == ']' && IsIPv6Address(host.substr(1, host.size() - 2)))
        return {host.substr(1, host.size() - 2)};
    return addressesOf(host, AF_UNSPEC);
}

std::string LocalHostName()
{
    startup();
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

Socket::~Socket() { Close(); }

Socket::Socket(Socket &&other) noexcept
    : handle_(std::exchange(other.handle_, kInvalid)), family_(other.family_),
      connecting_(std::exchange(other.connecting_, false))
{
}

Socket &Socket::operator=(Socket &&other) noexcept
{
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, kInvalid);
        family_ = other.family_;
        connecting_ = std::exchange(other.connecting_, false);
    }
    return *this;
}

Socket Socket::CreateTcp(Family family)
{
    startup();
    const int af = family == Family::IPv6 ? AF_INET6 : AF_INET;
    const Handle s = native::OpenTcp(af);
    if (s == kInvalid)
        raiseLast();
    Socket out(s, family);
    if (family == Family::IPv6) {
        // IPv6 only: an IPv4 peer gets a socket of its own family, so every
        // address this socket reports is a plain IPv6 one.
        int on = 1;
        ::setsockopt(sock(out.handle_), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char *>(&on), sizeof on);
    }
    return out;
}

bool Socket::IsOpen() const { return handle_ != kInvalid; }

void Socket::Close(bool abortive)
{
    if (handle_ == kInvalid)
        return;
    if (abortive) {
        linger lg{};
        lg.l_onoff = 1;
        lg.l_linger = 0;
        ::setsockopt(sock(handle_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&lg), sizeof lg);
    }
    native::CloseSocket(handle_);
    handle_ = kInvalid;
    connecting_ = false;
}

void Socket::Bind(const std::string &ip, int port)
{
    SockAddr a = makeAddress(family_, ip, port);
    if (::bind(sock(handle_), a.get(), a.length) != 0)
        raiseLast();
}

void Socket::Listen(int backlog)
{
    if (::listen(sock(handle_), backlog) != 0)
        raiseLast();
}

void Socket::Connect(const std::string &ip, int port, int timeoutMs)
{
    SockAddr a = makeAddress(family_, ip, port);
    if (timeoutMs <= 0) {
        if (::connect(sock(handle_), a.get(), a.length) == 0)
            return;
        const int error = lastNative();
        // An interrupted connect goes on in the background; wait for it below.
        if (!native::ConnectContinues(error))
            throw ESocketError(SocketErrorFromNative(error));
    } else {
        bool done = StartConnect(ip, port);
        SetNonBlocking(false);
        if (done)
            return;
    }
    if (!Poll(true, timeoutMs > 0 ? timeoutMs : -1))
        throw ESocketError(kErrTimedOut);
    FinishConnect();
}

bool Socket::StartConnect(const std::string &ip, int port)
{
    SockAddr a = makeAddress(family_, ip, port);
    SetNonBlocking(true);
    if (::connect(sock(handle_), a.get(), a.length) == 0)
        return true;
    const int error = lastNative();
    if (!native::ConnectPending(error))
        throw ESocketError(SocketErrorFromNative(error));
    connecting_ = true;
    return false;
}

void Socket::FinishConnect()
{
    connecting_ = false;
    int err = 0;
    SockLen len = sizeof err;
    if (::getsockopt(sock(handle_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&err), &len) != 0)
        raiseLast();
    if (err != 0)
        throw ESocketError(SocketErrorFromNative(err));
}

void Socket::SetNonBlocking(bool on)
{
    if (!native::SetNonBlocking(handle_, on))
        raiseLast();
}

bool Socket::Poll(bool forWrite, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        int wait = timeoutMs < 0 ? -1 : 0;
        if (timeoutMs > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        const native::Readiness what = !forWrite   ? native::Readiness::Read
                                       : connecting_ ? native::Readiness::Connect
                                                     : native::Readiness::Write;
        const int rc = native::WaitReady(handle_, what, wait);
        if (rc > 0)
            return true;  // ready, or an error the next call will report
        if (rc == 0)
            return false;
        const int error = lastNative();
        if (!native::Interrupted(error))
            throw ESocketError(SocketErrorFromNative(error));
    }
}

std::optional<Socket> Socket::Accept(int timeoutMs)
{
    for (;;) {
        if (timeoutMs > 0 && !Poll(false, timeoutMs))
            return std::nullopt;
        const Handle s = native::AcceptOne(handle_);
        if (s != kInvalid) {
            Socket out(s, family_);
            out.SetNonBlocking(false);  // Winsock and some systems pass the listener's mode on
            return out;
        }
        const int error = lastNative();
        if (native::AcceptRetry(error))
            continue;
        if (native::WouldBlock(error))
            return std::nullopt;
        throw ESocketError(SocketErrorFromNative(error));
    }
}

void Socket::SetSendTimeout(int timeoutMs)
{
    if (timeoutMs < 0)
        timeoutMs = 0;
    if (!native::SetSendTimeout(handle_, timeoutMs))
        raiseLast();
}

std::optional<std::size_t> Socket::Send(const char *data, std::size_t length)
{
    for (;;) {
        const long long sent = native::SendSome(handle_, data, length);
        if (sent >= 0)
            return static_cast<std::size_t>(sent);
        const int error = lastNative();
        if (native::Interrupted(error))
            continue;
        if (native::WouldBlock(error))
            return std::nullopt;
        throw ESocketError(SocketErrorFromNative(error));
    }
}

std::optional<std::size_t> Socket::Receive(char *buffer, std::size_t length, int timeoutMs)
{
    for (;;) {
        if (timeoutMs > 0 && !Poll(false, timeoutMs))
            return std::nullopt;
        const long long got = native::ReceiveSome(handle_, buffer, length);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        const int error = lastNative();
        if (native::Interrupted(error))
            continue;
        if (native::WouldBlock(error))
            return std::nullopt;
        throw ESocketError(SocketErrorFromNative(error));
    }
}

void Socket::ShutdownSend()
{
    if (!native::ShutdownSend(handle_))
        raiseLast();
}

std::string Socket::LocalAddress() const
{
    SockAddr a;
    a.length = sizeof a.storage;
    if (::getsockname(sock(handle_), a.get(), &a.length) != 0)
        raiseLast();
    return addressText(a.get(), a.length);
}

int Socket::LocalPort() const
{
    SockAddr a;
    a.length = sizeof a.storage;
    if (::getsockname(sock(handle_), a.get(), &a.length) != 0)
        raiseLast();
    return portOf(a.storage);
}

std::string Socket::PeerAddress() const
{
    SockAddr a;
    a.length = sizeof a.storage;
    if (::getpeername(sock(handle_), a.get(), &a.length) != 0)
        raiseLast();
    return addressText(a.get(), a.length);
}

int Socket::PeerPort() const
{
    SockAddr a;
    a.length = sizeof a.storage;
    if (::getpeername(sock(handle_), a.get(), &a.length) != 0)
        raiseLast();
    return portOf(a.storage);
}

}  // namespace qv::net
