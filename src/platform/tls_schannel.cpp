// The TLS stream on SChannel, Windows' own TLS (SSPI in secur32, certificates
// in crypt32): nothing to ship beside the program, and the system's updates
// keep its protocols and ciphers current.
//
// SChannel only transforms bytes: what it wants sent and what it needs to
// read go through Socket::Send and Socket::Receive here, so the stream never
// blocks and a reset peer is the socket layer's ESocketError, as with OpenSSL.
//
// SChannel's own certificate check is turned off (manual validation): it
// cannot be pointed at a file of authorities, and its refusal would come as
// a bare handshake failure. The chain is built and checked here instead
// (CertGetCertificateChain, then the SSL policy with the host name), as soon
// as the handshake ends and before the caller can send a byte over it.
#ifdef QV_HAVE_SCHANNEL

#include "platform/tls.h"

#include "platform/files.h"
#include "platform/files_internal.h"
#include "platform/sockets.h"

#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS  // declares SCH_CREDENTIALS
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <subauth.h>  // UNICODE_STRING, which SCH_CREDENTIALS uses
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#ifdef _MSC_VER
#pragma comment(lib, "secur32.lib")
#pragma comment(lib, "crypt32.lib")
#endif

namespace qv::net {

namespace {

using fileimpl::Wide;

// fdwChecks of SSL_EXTRA_CERT_CHAIN_POLICY_PARA, declared in wininet.h only.
constexpr DWORD kIgnoreUnknownCa = 0x00000100;     // SECURITY_FLAG_IGNORE_UNKNOWN_CA
constexpr DWORD kIgnoreCommonName = 0x00001000;    // SECURITY_FLAG_IGNORE_CERT_CN_INVALID

// Trust bits the SSL policy weighs itself: revocation (not asked for, as
// OpenSSL does not check it either), nesting of validity periods (obsolete),
// weak signatures (the system's own rules), and lists of trust (CTLs).
constexpr DWORD kLeftToPolicy = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION |
                                CERT_TRUST_IS_NOT_TIME_NESTED | CERT_TRUST_HAS_WEAK_SIGNATURE |
                                CERT_TRUST_CTL_IS_NOT_TIME_VALID | CERT_TRUST_CTL_IS_NOT_SIGNATURE_VALID |
                                CERT_TRUST_CTL_IS_NOT_VALID_FOR_USAGE;

constexpr unsigned long kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                        ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                        ISC_REQ_USE_SUPPLIED_CREDS | ISC_REQ_MANUAL_CRED_VALIDATION;

std::string hex(unsigned long code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", code);
    return text;
}

// The system's words for a status, with its number (Wine has words for few).
std::string statusText(const char *what, SECURITY_STATUS status)
{
    const std::string words = SysErrorMessage(static_cast<int>(status));
    const std::string number = " (" + hex(static_cast<unsigned long>(status)) + ")";
    return std::string(what) + (words.empty() ? "" : ": " + words) + number;
}

struct CertStore {
    HCERTSTORE handle = nullptr;
    CertStore() = default;
    explicit CertStore(HCERTSTORE h) : handle(h) {}
    ~CertStore()
    {
        if (handle)
            CertCloseStore(handle, 0);
    }
    CertStore(const CertStore &) = delete;
    CertStore &operator=(const CertStore &) = delete;
};

// The certificates of a PEM file, in a store of their own.
HCERTSTORE readAuthorities(const std::string &path)
{
    const FileHandle file = FileOpen(path, FileAccess::Read, FileShare::ReadWrite, FileDisposition::OpenExisting);
    if (file == InvalidFileHandle)
        throw ETlsError("Cannot read the trusted certificates: " + SysErrorMessage(LastOSError()), false);
    std::string text;
    char chunk[8192];
    for (;;) {
        const std::int64_t got = FileRead(file, chunk, sizeof chunk);
        if (got <= 0)
            break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    FileClose(file);

    CertStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!store.handle)
        throw ETlsError("Cannot read the trusted certificates: " + SysErrorMessage(LastOSError()), false);
    static const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
    int added = 0;
    for (std::size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at)) {
        const std::size_t stop = text.find(end, at);
        if (stop == std::string::npos)
            break;
        const std::wstring block = Wide(text.substr(at, stop + end.size() - at));
        at = stop + end.size();
        DWORD size = 0;
        if (!CryptStringToBinaryW(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                  &size, nullptr, nullptr))
            continue;
        std::string der(size, '\0');
        if (CryptStringToBinaryW(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                 reinterpret_cast<BYTE *>(der.data()), &size, nullptr, nullptr) &&
            CertAddEncodedCertificateToStore(store.handle, X509_ASN_ENCODING,
                                             reinterpret_cast<const BYTE *>(der.data()), size,
                                             CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
            ++added;
    }
    if (added == 0)
        throw ETlsError("Cannot read the trusted certificates: no certificate in " + path, false);
    HCERTSTORE out = store.handle;
    store.handle = nullptr;
    return out;
}

// One credentials handle serves the control connection and its data
// connections: SChannel keeps sessions for reuse per handle and server name.
struct Credentials {
    CredHandle handle{};
    bool valid = false;
    HCERTSTORE authorities = nullptr;  // caFile's; none: the system's store

    ~Credentials()
    {
        if (valid)
            FreeCredentialsHandle(&handle);
        if (authorities)
            CertCloseStore(authorities, 0);
    }
};

std::shared_ptr<Credentials> acquireCredentials(const std::string &caFile)
{
    auto cred = std::make_shared<Credentials>();
    if (!caFile.empty())
        cred->authorities = readAuthorities(caFile);

    const DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    wchar_t package[] = UNISP_NAME_W;
    TimeStamp expiry;
    // SCH_CREDENTIALS (Windows 10 1809 on) is the one that offers TLS 1.3;
    // older systems refuse it and take SCHANNEL_CRED. TLS 1.0 and 1.1 are
    // withdrawn (RFC 8996); every maintained server has 1.2.
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols =
        SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
    SCH_CREDENTIALS current{};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = flags;
    current.cTlsParameters = 1;
    current.pTlsParameters = &parameters;
    SECURITY_STATUS status = AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &current,
                                                       nullptr, nullptr, &cred->handle, &expiry);
    if (status != SEC_E_OK) {
        SCHANNEL_CRED older{};
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        older.dwFlags = flags;
        status = AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &older, nullptr, nullptr,
                                           &cred->handle, &expiry);
    }
    if (status != SEC_E_OK)
        throw ETlsError(statusText("Cannot set up TLS", status), false);
    cred->valid = true;
    return cred;
}

[[noreturn]] void refuse(const std::string &why) { throw ETlsError(why, true); }

// Why a chain's trust bits refuse it.
std::string chainText(DWORD bits)
{
    if (bits & CERT_TRUST_IS_NOT_TIME_VALID)
        return "the server's certificate has expired or is not yet valid";
    if (bits & CERT_TRUST_IS_REVOKED)
        return "the server's certificate has been revoked";
    if (bits & CERT_TRUST_IS_NOT_SIGNATURE_VALID)
        return "a signature in the server's certificate chain is not valid";
    if (bits & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
        return "the server's certificate is not meant for a server";
    return "the server's certificate chain is not valid (trust status " + hex(bits) + ")";
}

std::string policyText(DWORD error, const std::string &peerName)
{
    switch (error) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
        return "the server's certificate was not issued by an authority this computer trusts";
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return "the server's certificate is not for " + peerName;
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return "the server's certificate has expired or is not yet valid";
    case static_cast<DWORD>(CERT_E_REVOKED):
        return "the server's certificate has been revoked";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
        return "the server's certificate is not meant for a server";
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE):
        return "a signature in the server's certificate chain is not valid";
    default:
        return statusText("the server's certificate was refused", static_cast<SECURITY_STATUS>(error));
    }
}

// Whether the certificate names the address among its alternative names.
// Checked here: CERT_CHAIN_POLICY_SSL matches DNS names only on some systems.
bool namesAddress(PCCERT_CONTEXT cert, const std::string &address)
{
    std::string bare = address;
    if (const auto percent = bare.find('%'); percent != std::string::npos)
        bare.erase(percent);  // a zone does not belong to the address
    const bool v6 = bare.find(':') != std::string::npos;
    unsigned char bytes[16];
    if (InetPtonW(v6 ? AF_INET6 : AF_INET, Wide(bare).c_str(), bytes) != 1)
        return false;
    const DWORD length = v6 ? 16 : 4;
    for (const char *oid : {szOID_SUBJECT_ALT_NAME2, szOID_SUBJECT_ALT_NAME}) {
        const CERT_EXTENSION *ext =
            CertFindExtension(oid, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
        if (!ext)
            continue;
        CERT_ALT_NAME_INFO *info = nullptr;
        DWORD size = 0;
        if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData, ext->Value.cbData,
                                 CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &size))
            continue;
        bool found = false;
        for (DWORD i = 0; i < info->cAltEntry && !found; ++i) {
            const CERT_ALT_NAME_ENTRY &entry = info->rgAltEntry[i];
            found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == length &&
                    std::memcmp(entry.IPAddress.pbData, bytes, length) == 0;
        }
        LocalFree(info);
        if (found)
            return true;
    }
    return false;
}

}  // namespace

struct TlsStream::Impl {
    Socket *socket = nullptr;
    std::shared_ptr<Credentials> cred;
    std::string peerName;
    std::wstring target;  // the name SChannel sends (SNI) and keys its session cache by
    CtxtHandle context{};
    bool haveContext = false;
    bool negotiated = false;     // a handshake (first or later) has ended
    bool established = false;    // the first one has, and the certificate passed
    bool renegotiating = false;  // the server began another handshake (TLS 1.3: a ticket)
    bool needMore = false;       // what is in `in` is not a whole record
    bool peerEnded = false;
    bool shutdownQueued = false;
    bool broken = false;         // failed: nothing more may be sent
    std::string in;              // received, not yet taken by SChannel
    std::string out;             // for the socket
    std::size_t outDone = 0;
    std::string plain;           // decrypted, not yet read
    std::size_t plainDone = 0;
    SecPkgContext_StreamSizes sizes{};
    std::string protocol;
    bool resumed = false;

    ~Impl()
    {
        if (haveContext)
            DeleteSecurityContext(&context);
    }

    // Sends what is queued; false while the socket takes no more.
    bool flush()
    {
        while (outDone < out.size()) {
            const auto sent = socket->Send(out.data() + outDone, out.size() - outDone);
            if (!sent || *sent == 0)
                return false;
            outDone += *sent;
        }
        out.clear();
        outDone = 0;
        return true;
    }

    enum class Received { Some, Nothing, Ended };

    Received receive()
    {
        char chunk[32768];
        const auto got = socket->Receive(chunk, sizeof chunk, 0);
        if (!got)
            return Received::Nothing;
        if (*got == 0)
            return Received::Ended;
        in.append(chunk, *got);
        return Received::Some;
    }

    void keepExtra(const SecBuffer &extra)
    {
        if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0 && extra.cbBuffer <= in.size())
            in.erase(0, in.size() - extra.cbBuffer);
        else
            in.clear();
    }

    // One pass of the handshake, first or later: TlsWait::None once it ended
    // and the certificate passed.
    TlsWait negotiate()
    {
        for (;;) {
            if (negotiated)
                return flush() ? TlsWait::None : TlsWait::Write;
            if (!flush())
                return TlsWait::Write;
            if (haveContext && (in.empty() || needMore)) {
                const Received got = receive();
                if (got == Received::Nothing)
                    return TlsWait::Read;
                if (got == Received::Ended)
                    fail("The server closed the connection during the TLS handshake.");
                needMore = false;
            }

            SecBuffer input[2] = {{static_cast<unsigned long>(in.size()), SECBUFFER_TOKEN, in.data()},
                                  {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inputDesc{SECBUFFER_VERSION, 2, input};
            SecBuffer output[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
            SecBufferDesc outputDesc{SECBUFFER_VERSION, 2, output};
            unsigned long attributes = 0;
            const SECURITY_STATUS status = InitializeSecurityContextW(
                &cred->handle, haveContext ? &context : nullptr, target.data(), kContextFlags, 0, 0,
                haveContext ? &inputDesc : nullptr, 0, haveContext ? nullptr : &context, &outputDesc, &attributes,
                nullptr);
            std::string token;
            if (output[0].pvBuffer) {
                token.assign(static_cast<const char *>(output[0].pvBuffer), output[0].cbBuffer);
                FreeContextBuffer(output[0].pvBuffer);
            }
            if (output[1].pvBuffer)
                FreeContextBuffer(output[1].pvBuffer);

            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                needMore = true;
                continue;
            }
            if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED && status != SEC_I_INCOMPLETE_CREDENTIALS) {
                broken = true;
                // The alert that says why, if the socket takes it at once.
                if (!token.empty()) {
                    try {
                        socket->Send(token.data(), token.size());
                    } catch (const ESocketError &) {
                    }
                }
                throw ETlsError(statusText("TLS handshake failed", status), false);
            }
            if (haveContext)
                keepExtra(input[1]);
            haveContext = true;
            out += token;
            if (status == SEC_E_OK) {
                // Before the last flight goes out: a refused server gets nothing more.
                finish();
                negotiated = true;
            }
            // SEC_I_INCOMPLETE_CREDENTIALS: the server asks for a certificate
            // of ours; we have none, and go on without.
        }
    }

    void finish()
    {
        // TLS 1.3 knows no renegotiation: a later pass there only takes a
        // session ticket or new keys, and the certificate stays as checked.
        if (!established || protocol != "TLSv1.3")
            verifyPeer();
        if (QueryContextAttributesW(&context, SECPKG_ATTR_STREAM_SIZES, &sizes) != SEC_E_OK ||
            sizes.cbMaximumMessage == 0)
            fail("TLS stream sizes unknown");
        if (established)
            return;
        SecPkgContext_ConnectionInfo info{};
        if (QueryContextAttributesW(&context, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK) {
            if (info.dwProtocol & SP_PROT_TLS1_3)
                protocol = "TLSv1.3";
            else if (info.dwProtocol & SP_PROT_TLS1_2)
                protocol = "TLSv1.2";
            else if (info.dwProtocol & SP_PROT_TLS1_1)
                protocol = "TLSv1.1";
            else if (info.dwProtocol & SP_PROT_TLS1_0)
                protocol = "TLSv1";
        }
        if (protocol.empty())
            protocol = "TLS";
        // Systems that cannot tell leave it false.
        SecPkgContext_SessionInfo session{};
        resumed = QueryContextAttributesW(&context, SECPKG_ATTR_SESSION_INFO, &session) == SEC_E_OK &&
                  (session.dwFlags & SSL_SESSION_RECONNECT) != 0;
        established = true;
    }

    [[noreturn]] void fail(const std::string &why)
    {
        broken = true;
        throw ETlsError(why, false);
    }

    void verifyPeer()
    {
        broken = true;  // until it passes
        PCCERT_CONTEXT cert = nullptr;
        if (QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK || !cert)
            refuse("the server sent no certificate");
        struct CertHolder {
            PCCERT_CONTEXT c;
            ~CertHolder() { CertFreeCertificateContext(c); }
        } holdCert{cert};

        // With a file of authorities the chain may end in one of them, which
        // the system does not know: they join the certificates the server sent.
        CertStore both;
        HCERTSTORE extra = cert->hCertStore;
        if (cred->authorities) {
            both.handle = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
            if (!both.handle || !CertAddStoreToCollection(both.handle, cert->hCertStore, 0, 0) ||
                !CertAddStoreToCollection(both.handle, cred->authorities, 0, 1))
                refuse("the server's certificate could not be checked: " + SysErrorMessage(LastOSError()));
            extra = both.handle;
        }
        char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
        LPSTR usages[] = {serverAuth};
        CERT_CHAIN_PARA para{};
        para.cbSize = sizeof para;
        para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
        para.RequestedUsage.Usage.cUsageIdentifier = 1;
        para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        const DWORD chainFlags = cred->authorities ? CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE : 0;
        if (!CertGetCertificateChain(nullptr, cert, nullptr, extra, &para, chainFlags, nullptr, &chain) || !chain)
            refuse("the server's certificate could not be checked: " + SysErrorMessage(LastOSError()));
        struct ChainHolder {
            PCCERT_CHAIN_CONTEXT c;
            ~ChainHolder() { CertFreeCertificateChain(c); }
        } holdChain{chain};

        // The chain's own verdict first: some systems' SSL policy (Wine's)
        // passes a chain that does not reach a trusted root.
        DWORD errors = chain->TrustStatus.dwErrorStatus & ~kLeftToPolicy;
        DWORD ignore = 0;
        if (cred->authorities) {
            // The file stands in for the system's store: the chain must end
            // in one of its certificates, which the system need not know.
            if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0)
                refuse(policyText(static_cast<DWORD>(CERT_E_CHAINING), peerName));
            const CERT_SIMPLE_CHAIN *simple = chain->rgpChain[0];
            PCCERT_CONTEXT top = simple->rgpElement[simple->cElement - 1]->pCertContext;
            PCCERT_CONTEXT known =
                CertFindCertificateInStore(cred->authorities, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, top, nullptr);
            if (!known)
                refuse(policyText(static_cast<DWORD>(CERT_E_UNTRUSTEDROOT), peerName));
            CertFreeCertificateContext(known);
            errors &= ~DWORD(CERT_TRUST_IS_UNTRUSTED_ROOT);
            ignore = kIgnoreUnknownCa;
        }
        if (errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))
            refuse(policyText(static_cast<DWORD>(CERT_E_UNTRUSTEDROOT), peerName));
        if (errors)
            refuse(chainText(errors));

        const bool address = IsDottedIPv4(peerName) || IsIPv6Address(peerName);
        std::wstring name = Wide(peerName);
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.fdwChecks = ignore | (address ? kIgnoreCommonName : 0);
        ssl.pwszServerName = address ? nullptr : name.data();
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS result{};
        result.cbSize = sizeof result;
        if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &result))
            refuse("the server's certificate could not be checked: " + SysErrorMessage(LastOSError()));
        if (result.dwError != 0)
            refuse(policyText(result.dwError, peerName));
        if (address && !namesAddress(cert, peerName))
            refuse("the server's certificate is not for the address " + peerName);
        broken = false;
    }

    // Takes one record from `in`: its bytes join `plain`; the peer's
    // close_notify ends the stream; a handshake message starts a new pass.
    void decrypt()
    {
        SecBuffer buffers[4] = {{static_cast<unsigned long>(in.size()), SECBUFFER_DATA, in.data()},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = DecryptMessage(&context, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            needMore = true;
            return;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
            fail(statusText("TLS failure", status));
        if (plainDone == plain.size()) {
            plain.clear();
            plainDone = 0;
        }
        std::string extra;
        for (const SecBuffer &b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0)
                plain.append(static_cast<const char *>(b.pvBuffer), b.cbBuffer);
            else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0)
                extra.assign(static_cast<const char *>(b.pvBuffer), b.cbBuffer);
        }
        in = std::move(extra);
        if (status == SEC_I_CONTEXT_EXPIRED)
            peerEnded = true;
        else if (status == SEC_I_RENEGOTIATE) {
            renegotiating = true;
            negotiated = false;
        }
    }

    // Reading and writing need an established, unbroken stream.
    void usable() const
    {
        if (broken || !established)
            throw ETlsError(broken ? "The TLS connection has failed." : "The TLS handshake has not been done.", false);
    }
};

bool TlsAvailable() { return true; }

TlsStream::TlsStream(Socket &socket, const std::string &peerName, const std::string &caFile,
                     const TlsStream *resumeFrom)
    : impl_(std::make_unique<Impl>())
{
    impl_->cred = resumeFrom ? resumeFrom->impl_->cred : acquireCredentials(caFile);
    impl_->socket = &socket;
    impl_->peerName = peerName;
    impl_->target = Wide(peerName);
    socket.SetNonBlocking(true);
}

TlsStream::~TlsStream() = default;

TlsWait TlsStream::Handshake()
{
    if (impl_->broken)
        throw ETlsError("The TLS connection has failed.", false);
    return impl_->negotiate();
}

TlsWait TlsStream::Read(char *buffer, std::size_t length, std::size_t &got)
{
    got = 0;
    Impl &s = *impl_;
    s.usable();
    if (!s.flush())
        return TlsWait::Write;
    for (;;) {
        if (s.plainDone < s.plain.size()) {
            got = std::min(length, s.plain.size() - s.plainDone);
            std::memcpy(buffer, s.plain.data() + s.plainDone, got);
            s.plainDone += got;
            return TlsWait::None;
        }
        if (s.peerEnded)
            return TlsWait::None;
        if (s.renegotiating) {
            const TlsWait wait = s.negotiate();
            if (wait != TlsWait::None)
                return wait;
            s.renegotiating = false;
            continue;
        }
        if (s.in.empty() || s.needMore) {
            const Impl::Received r = s.receive();
            if (r == Impl::Received::Nothing)
                return TlsWait::Read;
            if (r == Impl::Received::Ended) {
                // Closed without close_notify: an ended stream, as on a plain socket.
                s.peerEnded = true;
                continue;
            }
            s.needMore = false;
        }
        s.decrypt();
    }
}

TlsWait TlsStream::Write(const char *data, std::size_t length, std::size_t &sent)
{
    sent = 0;
    if (length == 0)
        return TlsWait::None;
    Impl &s = *impl_;
    s.usable();
    if (!s.flush())
        return TlsWait::Write;
    const std::size_t n = std::min<std::size_t>(length, s.sizes.cbMaximumMessage);
    std::string record(s.sizes.cbHeader + n + s.sizes.cbTrailer, '\0');
    std::memcpy(record.data() + s.sizes.cbHeader, data, n);
    SecBuffer buffers[4] = {
        {s.sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
        {static_cast<unsigned long>(n), SECBUFFER_DATA, record.data() + s.sizes.cbHeader},
        {s.sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + s.sizes.cbHeader + n},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = EncryptMessage(&s.context, 0, &desc, 0);
    if (status != SEC_E_OK)
        s.fail(statusText("TLS failure", status));
    record.resize(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
    s.out = std::move(record);
    s.outDone = 0;
    // The record is taken whole; what the socket does not take now goes
    // first at the next call.
    sent = n;
    s.flush();
    return TlsWait::None;
}

TlsWait TlsStream::Shutdown()
{
    Impl &s = *impl_;
    if (!s.established || s.broken)
        return TlsWait::None;
    if (!s.shutdownQueued) {
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
        SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
        SECURITY_STATUS status = ApplyControlToken(&s.context, &controlDesc);
        if (status != SEC_E_OK)
            s.fail(statusText("TLS failure", status));
        SecBuffer output{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outputDesc{SECBUFFER_VERSION, 1, &output};
        unsigned long attributes = 0;
        status = InitializeSecurityContextW(&s.cred->handle, &s.context, s.target.data(), kContextFlags, 0, 0,
                                            nullptr, 0, nullptr, &outputDesc, &attributes, nullptr);
        std::string alert;
        if (output.pvBuffer) {
            alert.assign(static_cast<const char *>(output.pvBuffer), output.cbBuffer);
            FreeContextBuffer(output.pvBuffer);
        }
        if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED)
            s.fail(statusText("TLS failure", status));
        s.out += alert;
        s.shutdownQueued = true;
    }
    return s.flush() ? TlsWait::None : TlsWait::Write;
}

std::string TlsStream::Protocol() const { return impl_->protocol; }

bool TlsStream::Resumed() const { return impl_->resumed; }

}  // namespace qv::net

#endif  // QV_HAVE_SCHANNEL
