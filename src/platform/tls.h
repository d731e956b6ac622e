// TLS, client side, over a socket that is already connected: the narrow piece
// the FTP session needs for "AUTH TLS" and protected data connections.
//
// The stream never blocks: each call does what the socket allows at once and
// says what it waits for (TlsWait::Read or ::Write); the caller polls the
// socket and calls again. So the caller keeps every wait in its own hands, in
// short slices, exactly as with a plain socket. Bytes go through the Socket's
// own Send/Receive, so a reset peer is the same ESocketError with TLS or without.
//
// The server's certificate is always verified, against the system's store of
// trusted authorities (or a file of them given by the caller), and its name
// against the host name or address the user gave. There is no switch to turn
// verification off.
//
// Built on SChannel, the system's own TLS, on Windows (tls_schannel.cpp); on
// OpenSSL elsewhere, where the build found it (tls_openssl.cpp); without
// either (tls_none.cpp) TlsAvailable() is false and a stream cannot be made.
#pragma once

#include "platform/errors.h"

#include <cstddef>
#include <memory>
#include <string>

namespace qv::net {

class Socket;

// Whether this build can speak TLS at all.
bool TlsAvailable();

// A failed handshake or a broken TLS stream. certificate() tells that the
// server's certificate was refused (untrusted, expired, another name); the
// text then says why, in the TLS library's words.
class ETlsError : public Exception {
public:
    ETlsError(const std::string &text, bool certificate) : Exception(text), certificate_(certificate) {}
    bool certificate() const { return certificate_; }

private:
    bool certificate_;
};

enum class TlsWait { None, Read, Write };

class TlsStream {
public:
    // Over a connected socket, which it switches to non-blocking and must not
    // outlive. peerName is the host name (or address) the certificate must
    // name. caFile, when not empty, replaces the system's store of trusted
    // authorities (a PEM file). A data connection passes its control
    // connection's stream as resumeFrom, so the server sees the same TLS
    // session, as many servers demand. Raises ETlsError without a TLS library.
    TlsStream(Socket &socket, const std::string &peerName, const std::string &caFile,
              const TlsStream *resumeFrom = nullptr);
    ~TlsStream();
    TlsStream(const TlsStream &) = delete;
    TlsStream &operator=(const TlsStream &) = delete;

    // One step of the handshake; TlsWait::None once it is done (the
    // certificate then verified). Raises ETlsError or ESocketError.
    TlsWait Handshake();
    // Reads at most length bytes into buffer; got 0 with TlsWait::None means
    // the peer ended the stream.
    TlsWait Read(char *buffer, std::size_t length, std::size_t &got);
    // Writes from data; sent tells how many bytes were taken (maybe fewer).
    TlsWait Write(const char *data, std::size_t length, std::size_t &sent);
    // Sends the end of the stream (close_notify); TlsWait::None once it is out.
    TlsWait Shutdown();

    // The protocol agreed on, as the library names it ("TLSv1.3").
    std::string Protocol() const;
    // Whether the handshake took up the session of resumeFrom.
    bool Resumed() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace qv::net
