// Sockets on Windows: Winsock 2, whose error numbers are already the ones the
// program reports; select() for the waits.
#include "platform/sockets.h"
#include "platform/sockets_native.h"

#include <climits>
#include <mutex>

#ifdef _MSC_VER
#pragma comment(lib, "ws2_32.lib")
#endif

namespace qv::net {

int SocketErrorFromNative(int nativeCode) { return nativeCode; }

namespace native {

namespace {
int chunkOf(std::size_t length) { return length > std::size_t(INT_MAX) ? INT_MAX : static_cast<int>(length); }
}  // namespace

void Startup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        const int rc = WSAStartup(MAKEWORD(2, 2), &data);
        if (rc != 0)
            throw ESocketError(rc);
    });
}

int LastError() { return WSAGetLastError(); }
bool Interrupted(int native) { return native == WSAEINTR; }
// A blocking send that ran out of its time limit reports WSAETIMEDOUT.
bool WouldBlock(int native) { return native == WSAEWOULDBLOCK || native == WSAETIMEDOUT; }
bool ConnectPending(int native) { return native == WSAEWOULDBLOCK; }
bool ConnectContinues(int) { return false; }
bool AcceptRetry(int native) { return native == WSAEINTR; }
// getaddrinfo's codes are Winsock numbers (WSAHOST_NOT_FOUND ...).
int LookupError(int rc) { return rc; }

std::uintptr_t OpenTcp(int addressFamily)
{
    const SOCKET s = ::socket(addressFamily, SOCK_STREAM, IPPROTO_TCP);
    return s == INVALID_SOCKET ? kInvalid : static_cast<std::uintptr_t>(s);
}

std::uintptr_t AcceptOne(std::uintptr_t listener)
{
    const SOCKET s = ::accept(sock(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? kInvalid : static_cast<std::uintptr_t>(s);
}

void CloseSocket(std::uintptr_t h) { ::closesocket(sock(h)); }

bool SetNonBlocking(std::uintptr_t h, bool on)
{
    u_long value = on ? 1 : 0;
    return ::ioctlsocket(sock(h), FIONBIO, &value) == 0;
}

bool SetSendTimeout(std::uintptr_t h, int timeoutMs)
{
    const DWORD value = static_cast<DWORD>(timeoutMs);
    return ::setsockopt(sock(h), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&value), sizeof value) == 0;
}

int WaitReady(std::uintptr_t h, Readiness what, int waitMs)
{
    // select() rather than WSAPoll(): older WSAPoll() never reports a
    // connection attempt that failed. Such a failure shows in the exception
    // set only, so a connect watches that set too. Other waits do not: a
    // reset or closed connection shows as ready, and one socket in two sets
    // while the peer closes brings Wine's server down (an assertion in its
    // poll code), which leaves the program waiting for ever.
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(sock(h), what == Readiness::Read ? &readable : &writable);
    if (what == Readiness::Connect)
        FD_SET(sock(h), &failed);
    timeval tv{};
    tv.tv_sec = waitMs / 1000;
    tv.tv_usec = (waitMs % 1000) * 1000;
    return ::select(0, &readable, &writable, &failed, waitMs < 0 ? nullptr : &tv);
}

long long SendSome(std::uintptr_t h, const char *data, std::size_t length)
{
    return ::send(sock(h), data, chunkOf(length), 0);
}

long long ReceiveSome(std::uintptr_t h, char *buffer, std::size_t length)
{
    return ::recv(sock(h), buffer, chunkOf(length), 0);
}

bool ShutdownSend(std::uintptr_t h) { return ::shutdown(sock(h), SD_SEND) == 0; }

}  // namespace native

}  // namespace qv::net
