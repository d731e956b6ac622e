// The session and the TLS stream against real FTP servers with explicit TLS
// (Debian's pyftpdlib on 127.0.0.1, tests/support/ftps_peers.py): a trusted
// certificate carries the login and the file, an unknown authority or a
// certificate for another name is refused before the login, and a server
// without TLS is used in plain text where TLS is only wished for.
//
// The same tests run on Linux (OpenSSL; the servers are started here) and on
// Windows (SChannel; under Wine, scripts/test-windows.sh starts the servers
// and names their folder in QV_FTPS_PEERS). The refused servers are never
// sent a login by any test, so "no USER seen" holds even when test programs
// share them at once.
#include "CoreTest.h"
#include "recorder.h"

#include "platform/sockets.h"
#include "platform/tls.h"
#include "upload/IdFTP.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using qv::test::ErrorOf;
using qv::test::kWindows;

namespace {

const char *const kPassword = "#(test)#";

bool Has(const std::vector<std::string> &events, const std::string &prefix)
{
    return std::any_of(events.begin(), events.end(), [&](const std::string &e) { return e.rfind(prefix, 0) == 0; });
}

class Ftps : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (const char *given = std::getenv("QV_FTPS_PEERS"); given && *given) {
            dir_ = given;
            return;
        }
#ifdef _WIN32
        why_ = "QV_FTPS_PEERS is not set: scripts/test-windows.sh starts the servers for the Windows build";
#else
        own_ = std::make_unique<qv::test::ScratchDir>("qvftps");
        dir_ = own_->path();
        if (std::system(PeersCommand("start").c_str()) != 0)
            why_ = "the FTP servers did not start: " + PeersCommand("start");
#endif
    }

    static void TearDownTestSuite()
    {
#ifndef _WIN32
        if (own_) {
            [[maybe_unused]] const int rc = std::system(PeersCommand("stop").c_str());
            own_.reset();
        }
#endif
    }

#ifndef _WIN32
    static std::string PeersCommand(const char *verb)
    {
        // The system's interpreter is the one with the distribution's pyftpdlib.
        const char *source = std::getenv("QV_SOURCE_DIR");
        return "/usr/bin/python3 '" + std::string(source ? source : ".") + "/tests/support/ftps_peers.py' " + verb +
               " '" + dir_ + "'";
    }
#endif

    void SetUp() override
    {
        if (!why_.empty())
            GTEST_SKIP() << why_;
        if (!qv::net::TlsAvailable())
            GTEST_SKIP() << "built without TLS";
    }

    static std::string PeerFile(const std::string &peer, const std::string &rel)
    {
        std::string path = dir_ + qv::PathDelim + peer + qv::PathDelim + rel;
        std::replace(path.begin(), path.end(), '/', qv::PathDelim);
        return path;
    }
    static int Port(const std::string &peer) { return std::atoi(qv::test::ReadBytes(PeerFile(peer, "port")).c_str()); }
    static std::string Authority(const std::string &peer) { return PeerFile(peer, "tls/ca.pem"); }
    static std::string Stored(const std::string &peer, const std::string &name)
    {
        return qvtest::ReadFile(PeerFile(peer, "root/dane/" + name));
    }
    // The verbs the server has received, from every test that used it.
    static std::vector<std::string> Commands(const std::string &peer)
    {
        std::istringstream log(qvtest::ReadFile(PeerFile(peer, "commands.log")));
        std::vector<std::string> out;
        for (std::string line; std::getline(log, line);)
            out.push_back(line);
        return out;
    }
    static bool Saw(const std::vector<std::string> &commands, const std::string &verb)
    {
        return std::find(commands.begin(), commands.end(), verb) != commands.end();
    }

    void Use(const std::string &peer, const std::string &host)
    {
        if (ftp.Connected())  // a case before failed to be refused: the next one starts afresh
            ftp.CloseSession();
        ftp.Host = host;
        ftp.Port = Port(peer);
        ftp.Username = "qv";
        ftp.Password = kPassword;
        ftp.ReadTimeout = 10000;
        ftp.AcceptTimeout = 10000;
        ftp.CleanupTimeout = 3000;
        rec.events.clear();
        rec.Attach(ftp);
    }

    // The refusal OpenSession ends in: whether it was the certificate's, and its text.
    std::pair<bool, std::string> Refusal()
    {
        try {
            ftp.OpenSession(true);
        } catch (const qv::net::ETlsError &e) {
            return {e.certificate(), e.what()};
        } catch (const std::exception &e) {
            return {false, std::string("not a TLS error: ") + e.what()};
        }
        return {false, "<no error>"};
    }

    qv::TIdFTP ftp;
    qvtest::Recorder rec;
    qv::test::ScratchDir files{"qvftpsfiles"};

    static inline std::string dir_;
    static inline std::string why_;
#ifndef _WIN32
    static inline std::unique_ptr<qv::test::ScratchDir> own_;
#endif
};

}  // namespace

TEST_F(Ftps, TrustedServerTakesLoginAndFileEncryptedAndByteExact)
{
    // Many records, and more than a socket takes at once.
    const std::string content = qvtest::Pattern(600000, 11);
    const std::string local = qvtest::WriteFile(files.path(), "local.cab", content);
    struct Case {
        const char *peer;
        const char *host;  // a name, and an address the certificate names
        qv::TIdDataMode mode;
    };
    int n = 0;
    for (Case c : {Case{"trusted", "localhost", qv::dmPassive}, Case{"trusted", "127.0.0.1", qv::dmActive},
                   Case{"tls12", "localhost", qv::dmActiveThenPassive}}) {
        SCOPED_TRACE(std::string(c.peer) + " " + c.host);
        Use(c.peer, c.host);
        ftp.UseTLS = qv::tlsRequired;
        ftp.DataMode = c.mode;
        ftp.TlsTrustFile = Authority(c.peer);
        const std::string remote = "secured-" + std::to_string(++n) + ".cab";
        ASSERT_EQ(ErrorOf([&] {
                      ftp.OpenSession(true);
                      ftp.ChangeFolder("dane");
                      ftp.StoreFile(local, remote);
                  }),
                  "<no error>");
        const std::string protocol = ftp.TlsProtocol();
        if (std::string(c.peer) == "tls12")
            EXPECT_EQ(protocol, "TLSv1.2");
        else
            EXPECT_TRUE(protocol == "TLSv1.2" || protocol == "TLSv1.3") << protocol;
        EXPECT_TRUE(Has(rec.events, "ftpTlsSecured TLS session established (" + protocol + ")"));
        EXPECT_FALSE(Has(rec.events, "ftpTlsDataClear"));
        // The server takes a data connection only under PROT P.
        EXPECT_EQ(ftp.LastCmdResult().NumericCode, 226);
        EXPECT_TRUE(Stored(c.peer, remote) == content) << "stored " << Stored(c.peer, remote).size() << " bytes";
        ftp.CloseSession();
    }
    EXPECT_TRUE(Saw(Commands("trusted"), "PROT"));
}

TEST_F(Ftps, DataConnectionsTakeUpTheControlConnectionsSession)
{
    // Servers may insist on it (vsftpd does by default), so that nobody but
    // the logged-in client can hijack the data connection.
    if (qv::test::UnderWine())
        GTEST_SKIP() << "Wine's SChannel resumes no TLS session: every data connection under Wine begins a new one "
                        "(checked on Linux and on Windows proper)";
    const std::string local = qvtest::WriteFile(files.path(), "resume.cab", qvtest::Pattern(5000, 13));
    Use("trusted", "localhost");
    ftp.UseTLS = qv::tlsRequired;
    ftp.TlsTrustFile = Authority("trusted");
    ASSERT_EQ(ErrorOf([&] {
                  ftp.OpenSession(true);
                  ftp.ChangeFolder("dane");
                  ftp.DataMode = qv::dmPassive;
                  ftp.StoreFile(local, "resumed-1.cab");
                  ftp.DataMode = qv::dmActive;
                  ftp.StoreFile(local, "resumed-2.cab");
              }),
              "<no error>");
    ftp.CloseSession();
    const auto seen = Commands("trusted");
    EXPECT_TRUE(Saw(seen, "DATA-TLS resumed resumed-1.cab"));
    EXPECT_TRUE(Saw(seen, "DATA-TLS resumed resumed-2.cab"));
}

TEST_F(Ftps, UnknownAuthorityIsRefusedBeforeTheLogin)
{
    const std::string untrusted = kWindows
                                      ? "the server's certificate was not issued by an authority this computer trusts"
                                      : "unable to get local issuer certificate";
    struct Case {
        const char *what;
        std::string trust;
        std::string refusal;
    };
    for (const Case &c : {Case{"the system's store", "", untrusted},
                          Case{"a file with another authority", Authority("misnamed"), untrusted},
                          // Its name is that of the server's authority; its key is not.
                          Case{"a file with an authority of the same name", Authority("trusted"),
                               kWindows ? "a signature in the server's certificate chain is not valid"
                                        : "certificate signature failure"}}) {
        for (qv::TIdTlsMode tls : {qv::tlsIfOffered, qv::tlsRequired}) {
            SCOPED_TRACE(std::string(c.what) + (tls == qv::tlsRequired ? ", TLS required" : ", TLS if offered"));
            Use("stranger", "localhost");
            ftp.UseTLS = tls;
            ftp.TlsTrustFile = c.trust;
            EXPECT_EQ(Refusal(), std::make_pair(true, c.refusal));
            // No way round to plain text: no login.
            EXPECT_FALSE(ftp.Connected());
            EXPECT_FALSE(Has(rec.events, "ftpReady"));
            EXPECT_FALSE(Has(rec.events, "ftpTlsSecured"));
        }
    }
    const auto seen = Commands("stranger");
    EXPECT_TRUE(Saw(seen, "AUTH"));
    EXPECT_FALSE(Saw(seen, "USER"));
    EXPECT_FALSE(Saw(seen, "PASS"));
}

TEST_F(Ftps, CertificateForAnotherNameIsRefusedBeforeTheLogin)
{
    struct Case {
        const char *host;
        std::string refusal;
    };
    // A name, and an address (matched with the certificate's IP entries).
    for (const Case &c :
         {Case{"localhost", kWindows ? "the server's certificate is not for localhost" : "hostname mismatch"},
          Case{"127.0.0.1",
               kWindows ? "the server's certificate is not for the address 127.0.0.1" : "IP address mismatch"}}) {
        SCOPED_TRACE(c.host);
        Use("misnamed", c.host);
        ftp.UseTLS = qv::tlsRequired;
        ftp.TlsTrustFile = Authority("misnamed");  // trusted: only the name is wrong
        EXPECT_EQ(Refusal(), std::make_pair(true, c.refusal));
        EXPECT_FALSE(ftp.Connected());
    }
    const auto seen = Commands("misnamed");
    EXPECT_TRUE(Saw(seen, "AUTH"));
    EXPECT_FALSE(Saw(seen, "USER"));
}

TEST_F(Ftps, UnreadableTrustFileIsAFailureOfOursNotTheServers)
{
    const std::string empty = qvtest::WriteFile(files.path(), "empty.pem", "no certificate here\n");
    for (const std::string &trust : {files / "missing.pem", empty}) {
        SCOPED_TRACE(trust);
        Use("trusted", "localhost");
        ftp.UseTLS = qv::tlsRequired;
        ftp.TlsTrustFile = trust;
        const auto [certificate, text] = Refusal();
        EXPECT_FALSE(certificate);
        EXPECT_EQ(text.rfind("Cannot read the trusted certificates: ", 0), 0u) << text;
        EXPECT_FALSE(ftp.Connected());
    }
}

TEST_F(Ftps, AutoGoesPlainWhereTheServerHasNoTls)
{
    const std::string content = qvtest::Pattern(70000, 12);
    const std::string local = qvtest::WriteFile(files.path(), "plain.cab", content);
    Use("plain", "localhost");
    ftp.UseTLS = qv::tlsIfOffered;
    ASSERT_EQ(ErrorOf([&] {
                  ftp.OpenSession(true);
                  ftp.ChangeFolder("dane");
                  ftp.StoreFile(local, "plain.cab");
              }),
              "<no error>");
    EXPECT_TRUE(Has(rec.events, "ftpTlsNotOffered The server does not offer TLS; going on in plain text"));
    EXPECT_FALSE(ftp.Secured());
    EXPECT_EQ(ftp.TlsProtocol(), "");
    EXPECT_TRUE(Stored("plain", "plain.cab") == content);
    ftp.CloseSession();
}
