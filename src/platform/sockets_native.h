// What sockets.cpp asks of each system's sockets (sockets_posix.cpp,
// sockets_windows.cpp): the calls that differ between Winsock and POSIX in
// name, flags or error reporting. The BSD calls both share (bind, listen,
// getaddrinfo ...) stay in sockets.cpp. Not for use outside those files.
#pragma once

#ifdef _WIN32
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // getaddrinfo, getnameinfo and IPv6 names
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>  // gethostname
#endif

#include <cstddef>
#include <cstdint>

namespace qv::net::native {

#ifdef _WIN32
using SockLen = int;
using Sock = SOCKET;
#else
using SockLen = socklen_t;
using Sock = int;
#endif
constexpr std::uintptr_t kInvalid = ~std::uintptr_t(0);

inline Sock sock(std::uintptr_t h) { return static_cast<Sock>(h); }

// Makes the socket library ready once; raises ESocketError when it cannot be.
void Startup();
// The last socket error in the system's numbering.
int LastError();
bool Interrupted(int native);
bool WouldBlock(int native);
// A non-blocking connect that is under way.
bool ConnectPending(int native);
// A blocking connect that goes on in the background after the error.
bool ConnectContinues(int native);
// An accept whose connection went away between the wait and the call.
bool AcceptRetry(int native);
// A name-service failure (getaddrinfo's code) as a Winsock number.
int LookupError(int rc);

// kInvalid on failure, with LastError() set.
std::uintptr_t OpenTcp(int addressFamily);
std::uintptr_t AcceptOne(std::uintptr_t listener);
void CloseSocket(std::uintptr_t h);
bool SetNonBlocking(std::uintptr_t h, bool on);
bool SetSendTimeout(std::uintptr_t h, int timeoutMs);
enum class Readiness { Read, Write, Connect };
// Waits at most waitMs (< 0: no limit) for the socket to become readable or
// writable, or for its connection attempt to end either way: > 0 ready,
// 0 time out, < 0 error.
int WaitReady(std::uintptr_t h, Readiness what, int waitMs);
// Bytes sent or received, or < 0 with LastError() set.
long long SendSome(std::uintptr_t h, const char *data, std::size_t length);
long long ReceiveSome(std::uintptr_t h, char *buffer, std::size_t length);
bool ShutdownSend(std::uintptr_t h);

}  // namespace qv::net::native
