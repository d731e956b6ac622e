// The TLS stream of a build without TLS (QV_TLS=OFF, or no OpenSSL found off
// Windows): TlsAvailable() says no, and no stream can be made, so callers
// decide up front between going on in plain text and refusing.
#if !defined(QV_HAVE_OPENSSL) && !defined(QV_HAVE_SCHANNEL)

#include "platform/tls.h"

namespace qv::net {

struct TlsStream::Impl {};

bool TlsAvailable() { return false; }

TlsStream::TlsStream(Socket &, const std::string &, const std::string &, const TlsStream *)
{
    throw ETlsError("This program was built without TLS.", false);
}

TlsStream::~TlsStream() = default;

TlsWait TlsStream::Handshake() { return TlsWait::None; }

TlsWait TlsStream::Read(char *, std::size_t, std::size_t &got)
{
    got = 0;
    return TlsWait::None;
}

TlsWait TlsStream::Write(const char *, std::size_t, std::size_t &sent)
{
    sent = 0;
    return TlsWait::None;
}

TlsWait TlsStream::Shutdown() { return TlsWait::None; }

std::string TlsStream::Protocol() const { return {}; }

bool TlsStream::Resumed() const { return false; }

}  // namespace qv::net

#endif  // neither OpenSSL nor SChannel
