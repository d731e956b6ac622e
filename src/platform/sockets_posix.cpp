// Sockets on POSIX systems: errno numbers turned into Winsock's, poll(2) for
// the waits, no SIGPIPE for a reset peer.
#include "platform/sockets.h"
#include "platform/sockets_native.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

namespace qv::net {

int SocketErrorFromNative(int nativeCode)
{
    switch (nativeCode) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case EAGAIN: return 10035;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK: return 10035;
#endif
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
#if defined(ENOTSUP) && ENOTSUP != EOPNOTSUPP
    case ENOTSUP: return 10045;
#endif
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    // Writing to a connection the peer has reset: Winsock reports a reset.
    case EPIPE: return 10054;
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    default: return nativeCode;
    }
}

namespace native {

void Startup() {}
int LastError() { return errno; }
bool Interrupted(int native) { return native == EINTR; }
bool WouldBlock(int native) { return native == EAGAIN || native == EWOULDBLOCK; }
bool ConnectPending(int native) { return native == EINPROGRESS || native == EINTR; }
bool ConnectContinues(int native) { return native == EINTR; }
bool AcceptRetry(int native) { return native == EINTR || native == ECONNABORTED; }

int LookupError(int rc)
{
    switch (rc) {
    case EAI_NONAME:
        return kErrHostNotFound;
    case EAI_AGAIN:
        return 11002;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return 11004;
#endif
    case EAI_SYSTEM:
        return SocketErrorFromNative(errno);
    default:
        return 11003;
    }
}

std::uintptr_t OpenTcp(int addressFamily)
{
#ifdef SOCK_CLOEXEC
    const int s = ::socket(addressFamily, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
#else
    const int s = ::socket(addressFamily, SOCK_STREAM, IPPROTO_TCP);
#endif
    return s < 0 ? kInvalid : static_cast<std::uintptr_t>(s);
}

std::uintptr_t AcceptOne(std::uintptr_t listener)
{
#ifdef SOCK_CLOEXEC
    const int s = ::accept4(sock(listener), nullptr, nullptr, SOCK_CLOEXEC);
#else
    const int s = ::accept(sock(listener), nullptr, nullptr);
#endif
    return s < 0 ? kInvalid : static_cast<std::uintptr_t>(s);
}

void CloseSocket(std::uintptr_t h) { ::close(sock(h)); }

bool SetNonBlocking(std::uintptr_t h, bool on)
{
    int flags = ::fcntl(sock(h), F_GETFL);
    if (flags < 0)
        return false;
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(sock(h), F_SETFL, flags) == 0;
}

bool SetSendTimeout(std::uintptr_t h, int timeoutMs)
{
    timeval value{};
    value.tv_sec = timeoutMs / 1000;
    value.tv_usec = (timeoutMs % 1000) * 1000;
    return ::setsockopt(sock(h), SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value) == 0;
}

int WaitReady(std::uintptr_t h, Readiness what, int waitMs)
{
    pollfd p{};
    p.fd = sock(h);
    p.events = what == Readiness::Read ? POLLIN : POLLOUT;
    return ::poll(&p, 1, waitMs);
}

long long SendSome(std::uintptr_t h, const char *data, std::size_t length)
{
#ifdef MSG_NOSIGNAL
    const int flags = MSG_NOSIGNAL;  // a reset peer is an error, not a signal
#else
    const int flags = 0;
#endif
    return ::send(sock(h), data, length, flags);
}

long long ReceiveSome(std::uintptr_t h, char *buffer, std::size_t length) { return ::recv(sock(h), buffer, length, 0); }

bool ShutdownSend(std::uintptr_t h) { return ::shutdown(sock(h), SHUT_WR) == 0; }

}  // namespace native

}  // namespace qv::net
