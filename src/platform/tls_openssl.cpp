// The TLS stream on OpenSSL. OpenSSL talks to the socket through a small BIO
// of our own that calls Socket::Send and Socket::Receive: the socket layer
// then keeps its error numbering, a reset peer never raises SIGPIPE (OpenSSL's
// own socket BIO writes without MSG_NOSIGNAL), and a would-block is handed
// back to the caller as "wait for read/write" instead of blocking.
#ifdef QV_HAVE_OPENSSL

#include "platform/tls.h"

#include "platform/sockets.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <climits>
#include <mutex>

namespace qv::net {

namespace {

struct BioState {
    Socket *socket = nullptr;
    int error = 0;  // the socket layer's number of the last failure
};

int bioWrite(BIO *bio, const char *data, int length)
{
    auto *state = static_cast<BioState *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    try {
        auto sent = state->socket->Send(data, static_cast<std::size_t>(length));
        if (!sent) {
            BIO_set_retry_write(bio);
            return -1;
        }
        return static_cast<int>(*sent);
    } catch (const ESocketError &e) {
        state->error = e.code();
        return -1;
    }
}

int bioRead(BIO *bio, char *buffer, int length)
{
    auto *state = static_cast<BioState *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    try {
        auto got = state->socket->Receive(buffer, static_cast<std::size_t>(length), 0);
        if (!got) {
            BIO_set_retry_read(bio);
            return -1;
        }
        return static_cast<int>(*got);
    } catch (const ESocketError &e) {
        state->error = e.code();
        return -1;
    }
}

long bioCtrl(BIO *, int command, long, void *)
{
    // Writes go straight to the socket: there is never anything to flush.
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO *bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD *socketMethod()
{
    static BIO_METHOD *method = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "qv socket");
        if (method) {
            BIO_meth_set_write(method, bioWrite);
            BIO_meth_set_read(method, bioRead);
            BIO_meth_set_ctrl(method, bioCtrl);
            BIO_meth_set_create(method, bioCreate);
        }
    });
    return method;
}

// The reason of the oldest queued OpenSSL error, in its own words.
std::string queuedError(const char *fallback)
{
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    const char *reason = code ? ERR_reason_error_string(code) : nullptr;
    return reason ? std::string(reason) : std::string(fallback);
}

}  // namespace

struct TlsStream::Impl {
    SSL_CTX *ctx = nullptr;
    SSL *ssl = nullptr;
    BioState bio;

    ~Impl()
    {
        if (ssl)
            SSL_free(ssl);  // frees the BIO with it
        if (ctx)
            SSL_CTX_free(ctx);
    }

    // What a failed call waits for; raises for a real failure, and sets
    // closed when the peer ended the stream.
    TlsWait outcome(int rc, bool &closed)
    {
        closed = false;
        switch (SSL_get_error(ssl, rc)) {
        case SSL_ERROR_WANT_READ:
            return TlsWait::Read;
        case SSL_ERROR_WANT_WRITE:
            return TlsWait::Write;
        case SSL_ERROR_ZERO_RETURN:
            closed = true;
            return TlsWait::None;
        case SSL_ERROR_SYSCALL:
            if (bio.error)
                throw ESocketError(bio.error);
            ERR_clear_error();
            closed = true;  // the peer closed the connection without close_notify
            return TlsWait::None;
        default: {
            const long verify = SSL_get_verify_result(ssl);
            if (verify != X509_V_OK) {
                ERR_clear_error();
                throw ETlsError(X509_verify_cert_error_string(verify), true);
            }
            if (bio.error)
                throw ESocketError(bio.error);
            throw ETlsError(queuedError("TLS failure"), false);
        }
        }
    }
};

bool TlsAvailable() { return true; }

TlsStream::TlsStream(Socket &socket, const std::string &peerName, const std::string &caFile,
                     const TlsStream *resumeFrom)
    : impl_(std::make_unique<Impl>())
{
    ERR_clear_error();
    if (resumeFrom) {
        impl_->ctx = resumeFrom->impl_->ctx;
        SSL_CTX_up_ref(impl_->ctx);
    } else {
        impl_->ctx = SSL_CTX_new(TLS_client_method());
        if (!impl_->ctx)
            throw ETlsError(queuedError("Cannot set up TLS"), false);
        // TLS 1.0 and 1.1 are withdrawn (RFC 8996); every maintained server has 1.2.
        SSL_CTX_set_min_proto_version(impl_->ctx, TLS1_2_VERSION);
        SSL_CTX_set_verify(impl_->ctx, SSL_VERIFY_PEER, nullptr);
#ifdef SSL_OP_IGNORE_UNEXPECTED_EOF
        // A server that just closes is an ended stream, as on a plain socket.
        SSL_CTX_set_options(impl_->ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
#endif
        const int loaded = caFile.empty() ? SSL_CTX_set_default_verify_paths(impl_->ctx)
                                          : SSL_CTX_load_verify_locations(impl_->ctx, caFile.c_str(), nullptr);
        if (loaded != 1)
            throw ETlsError("Cannot read the trusted certificates: " + queuedError("unknown reason"), false);
    }

    impl_->ssl = SSL_new(impl_->ctx);
    if (!impl_->ssl)
        throw ETlsError(queuedError("Cannot set up TLS"), false);
    SSL_set_mode(impl_->ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (IsDottedIPv4(peerName) || IsIPv6Address(peerName)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(impl_->ssl), peerName.c_str());
    } else {
        SSL_set_hostflags(impl_->ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (SSL_set1_host(impl_->ssl, peerName.c_str()) != 1)
            throw ETlsError(queuedError("Cannot check the server's name"), false);
        SSL_set_tlsext_host_name(impl_->ssl, peerName.c_str());
    }
    if (resumeFrom) {
        if (SSL_SESSION *session = SSL_get1_session(resumeFrom->impl_->ssl)) {
            SSL_set_session(impl_->ssl, session);
            SSL_SESSION_free(session);
        }
    }

    BIO_METHOD *method = socketMethod();
    BIO *bio = method ? BIO_new(method) : nullptr;
    if (!bio)
        throw ETlsError(queuedError("Cannot set up TLS"), false);
    impl_->bio.socket = &socket;
    BIO_set_data(bio, &impl_->bio);
    SSL_set_bio(impl_->ssl, bio, bio);
    SSL_set_connect_state(impl_->ssl);
    socket.SetNonBlocking(true);
}

TlsStream::~TlsStream() = default;

TlsWait TlsStream::Handshake()
{
    ERR_clear_error();
    impl_->bio.error = 0;
    const int rc = SSL_connect(impl_->ssl);
    if (rc == 1)
        return TlsWait::None;
    bool closed = false;
    TlsWait wait = impl_->outcome(rc, closed);
    if (wait == TlsWait::None)
        throw ETlsError("The server closed the connection during the TLS handshake.", false);
    return wait;
}

TlsWait TlsStream::Read(char *buffer, std::size_t length, std::size_t &got)
{
    got = 0;
    ERR_clear_error();
    impl_->bio.error = 0;
    if (SSL_read_ex(impl_->ssl, buffer, length, &got) == 1)
        return TlsWait::None;
    bool closed = false;
    return impl_->outcome(0, closed);
}

TlsWait TlsStream::Write(const char *data, std::size_t length, std::size_t &sent)
{
    sent = 0;
    if (length == 0)
        return TlsWait::None;
    ERR_clear_error();
    impl_->bio.error = 0;
    if (SSL_write_ex(impl_->ssl, data, length, &sent) == 1)
        return TlsWait::None;
    bool closed = false;
    TlsWait wait = impl_->outcome(0, closed);
    if (wait == TlsWait::None)
        throw ESocketError(kErrConnectionReset);  // the peer is gone; nothing can be written
    return wait;
}

TlsWait TlsStream::Shutdown()
{
    ERR_clear_error();
    impl_->bio.error = 0;
    const int rc = SSL_shutdown(impl_->ssl);
    if (rc >= 0)
        return TlsWait::None;  // ours is out; the peer's answer is not awaited
    bool closed = false;
    return impl_->outcome(rc, closed);
}

std::string TlsStream::Protocol() const { return SSL_get_version(impl_->ssl); }

bool TlsStream::Resumed() const { return SSL_session_reused(impl_->ssl) == 1; }

}  // namespace qv::net

#endif  // QV_HAVE_OPENSSL
