// The session against pyftpdlib on 127.0.0.1 and on ::1, misbehaving the ways
// an office network or a poor server does: active mode refused or never
// connecting, silence, a data connection dropped half-way, a wrong size, and
// TLS with trusted, untrusted and misnamed certificates. Limits are set short,
// so every case ends in well under its limit's worth of seconds.
#include "CoreTest.h"
#include "FtpServer.h"
#include "recorder.h"

#include "upload/IdFTP.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using qv::test::ErrorOf;
using qv::test::FtpServer;
using qv::test::FtpServerOptions;

namespace {

const char *const kPassword = "#(test)#";

FtpServerOptions With(const std::vector<std::string> &extra)
{
    FtpServerOptions options;
    options.extra = extra;
    return options;
}

FtpServerOptions WithTls(const std::string &certName = "localhost", const std::vector<std::string> &extra = {})
{
    FtpServerOptions options;
    options.tls = true;
    options.certName = certName;
    options.extra = extra;
    return options;
}

bool Has(const std::vector<std::string> &events, const std::string &prefix)
{
    return std::any_of(events.begin(), events.end(), [&](const std::string &e) { return e.rfind(prefix, 0) == 0; });
}

class OfficeNetwork : public ::testing::TestWithParam<const char *> {
protected:
    std::unique_ptr<FtpServer> server;
    qv::TIdFTP ftp;
    qvtest::Recorder rec;
    qv::test::ScratchDir files;
    int idles = 0;

    std::string Host() const { return GetParam(); }

    void SetUp() override
    {
        if (const std::string why = FtpServer::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
    }

    void Start(FtpServerOptions options = {})
    {
        options.host = GetParam();
        server = std::make_unique<FtpServer>("qv", kPassword, options);
        QV_REQUIRE_FTP_SERVER(*server);
        ftp.Host = Host();
        ftp.Port = server->port();
        ftp.Username = "qv";
        ftp.Password = kPassword;
        ftp.ReadTimeout = 5000;
        ftp.AcceptTimeout = 5000;
        ftp.CleanupTimeout = 2000;
        ftp.VerifySize = true;
        rec.Attach(ftp);
        ftp.OnIdle = [this] { ++idles; };
    }

    // Opens, enters "dane" and stores content as name; false with the error's
    // text in error when anything fails.
    bool Store(const std::string &content, const std::string &name, std::string *error = nullptr)
    {
        const std::string local = qvtest::WriteFile(files.path(), "local.cab", content);
        std::string text = ErrorOf([&] {
            ftp.OpenSession(true);
            ftp.ChangeFolder("dane");
            ftp.StoreFile(local, name);
        });
        if (error)
            *error = text;
        return text == "<no error>";
    }

    std::string Stored(const std::string &name) const { return server->stored(name); }
};

INSTANTIATE_TEST_SUITE_P(Loopback, OfficeNetwork, ::testing::Values("127.0.0.1", "::1"),
                         [](const auto &info) { return std::string(info.index == 0 ? "IPv4" : "IPv6"); });

}  // namespace

TEST_P(OfficeNetwork, RefusedActiveModeSwitchesTheSameStoreToPassive)
{
    // EPSV first; over IPv4 a server without it still has PASV.
    for (const char *refused : {"PORT,EPRT", "PORT,EPRT,EPSV"}) {
        SCOPED_TRACE(refused);
        Start(With({"--refuse", refused}));
        ftp.DataMode = qv::dmActiveThenPassive;
        const std::string content = qvtest::Pattern(40000, 3);
        std::string error;
        const bool stored = Store(content, "b.cab", &error);
        EXPECT_TRUE(Has(rec.events, "ftpActiveRefused"));
        if (Host() == "::1" && std::string(refused).find("EPSV") != std::string::npos) {
            EXPECT_EQ(error, "Command not implemented.");  // no PASV over IPv6
        } else {
            ASSERT_TRUE(stored) << error;
            EXPECT_EQ(Stored("b.cab"), content);
        }
        ftp.CloseSession();
        rec.events.clear();
    }
}

TEST_P(OfficeNetwork, ActiveOnlyModeFailsWhereActiveIsRefused)
{
    Start(With({"--refuse", "PORT,EPRT"}));
    ftp.DataMode = qv::dmActive;
    std::string error;
    EXPECT_FALSE(Store("abc", "c.cab", &error));
    EXPECT_EQ(error, "Command not implemented.");
    EXPECT_FALSE(Has(rec.events, "ftpActiveRefused"));
    EXPECT_TRUE(server->storedNames().empty());
}

TEST_P(OfficeNetwork, ServerThatNeverConnectsBackIsLeftForPassiveAfterTheLimit)
{
    Start(With({"--silent-active"}));
    ftp.DataMode = qv::dmActiveThenPassive;
    ftp.PassiveFallbackTimeout = 400;
    const std::string content = qvtest::Pattern(50000, 4);
    std::string error;
    ASSERT_TRUE(Store(content, "d.cab", &error)) << error;
    EXPECT_TRUE(Has(rec.events, "ftpActiveNoConnection The server did not connect within 1 s"));
    EXPECT_EQ(Stored("d.cab"), content);
    EXPECT_GE(idles, 4) << "the wait gave the window its turns";

    // Active only: the same wait is a failure, with the data connection's limit.
    ftp.CloseSession();
    ftp.DataMode = qv::dmActive;
    ftp.AcceptTimeout = 300;
    EXPECT_FALSE(Store(content, "e.cab", &error));
    EXPECT_EQ(error, "Timed out waiting for the data connection.");
}

TEST_P(OfficeNetwork, SilentServerEndsAtTheReplyLimitWithTheWindowAlive)
{
    Start(With({"--mute-from", "greeting"}));
    ftp.ReadTimeout = 400;
    std::string error;
    EXPECT_FALSE(Store("abc", "f.cab", &error));
    EXPECT_EQ(error, "Read timed out.");
    EXPECT_GE(idles, 4);
    EXPECT_FALSE(ftp.Connected());

    // Stopped from the idle hook long before a limit of a minute.
    ftp.ReadTimeout = 60000;
    ftp.OnIdle = [this] {
        if (++idles % 3 == 0)
            ftp.Stop();
    };
    EXPECT_FALSE(Store("abc", "f.cab", &error));
    EXPECT_EQ(error, "Stopped.");
    EXPECT_FALSE(ftp.Connected());
}

TEST_P(OfficeNetwork, NoFinalReplyLeavesTheDeletionToANewConnection)
{
    Start(With({"--mute-from", "final"}));
    ftp.ReadTimeout = 500;
    ftp.CleanupTimeout = 300;
    std::string error;
    EXPECT_FALSE(Store(qvtest::Pattern(1000), "g.cab", &error));
    EXPECT_EQ(error, "Read timed out.");
    EXPECT_TRUE(ftp.StoreStarted());
    ASSERT_EQ(server->storedNames(), std::vector<std::string>{"g.cab"});
    // The answer did not come within the cleanup limit either: the old
    // connection is given up for a new one, in the same folder.
    EXPECT_EQ(ErrorOf([&] { ftp.Delete("g.cab"); }), "<no error>");
    EXPECT_TRUE(Has(rec.events, "ftpReconnecting"));
    EXPECT_TRUE(server->storedNames().empty());
    // The new connection answers in step: the file is gone.
    int code = 0;
    try {
        ftp.Delete("g.cab");
    } catch (const qv::EIdReplyError &e) {
        code = e.ReplyCode();
    }
    EXPECT_EQ(code, 550);
}

TEST_P(OfficeNetwork, DroppedTransferIsDeletedOrReportedUndeletable)
{
    const std::size_t size = 32u << 20;  // far more than the socket buffers hold
    const std::string content = qvtest::Pattern(size, 5);
    for (bool mayDelete : {true, false}) {
        SCOPED_TRACE(mayDelete ? "delete allowed" : "delete refused");
        FtpServerOptions options = With({"--drop-after", "100000"});
        if (!mayDelete)
            options.extra.push_back("--no-delete");
        Start(options);
        std::string error;
        EXPECT_FALSE(Store(content, "h.cab", &error));
        EXPECT_TRUE(error == "Socket Error # 10054\r\nConnection reset by peer.") << error;
        ASSERT_TRUE(ftp.StoreStarted());
        ASSERT_EQ(server->storedNames(), std::vector<std::string>{"h.cab"});
        EXPECT_LT(Stored("h.cab").size(), size);
        if (mayDelete) {
            ftp.Delete("h.cab");
            EXPECT_TRUE(server->storedNames().empty());
        } else {
            int code = 0;
            try {
                ftp.Delete("h.cab");
            } catch (const qv::EIdReplyError &e) {
                code = e.ReplyCode();
            }
            EXPECT_EQ(code, 550);
        }
        EXPECT_TRUE(ftp.Connected());
        ftp.CloseSession();
    }
}

TEST_P(OfficeNetwork, StopMidTransferLeavesTheServerReadyForTheDeletion)
{
    Start();
    ftp.DataMode = qv::dmActiveThenPassive;
    ftp.OnWork = [this](qv::TWorkMode, std::int64_t done) {
        if (done >= 65536)
            ftp.Stop();
    };
    std::string error;
    EXPECT_FALSE(Store(qvtest::Pattern(1 << 20, 6), "i.cab", &error));
    EXPECT_EQ(error, "Stopped.");
    ftp.Delete("i.cab");
    EXPECT_TRUE(server->storedNames().empty());
}

TEST_P(OfficeNetwork, TlsEncryptsLoginAndFileWhereTheServerOffersIt)
{
    if (!qv::net::TlsAvailable())
        GTEST_SKIP() << "built without TLS";
    struct Case {
        qv::TIdTlsMode tls;
        qv::TIdDataMode mode;
        bool serverRequires;
    };
    for (Case c : {Case{qv::tlsIfOffered, qv::dmActive, false}, Case{qv::tlsIfOffered, qv::dmPassive, false},
                   Case{qv::tlsRequired, qv::dmActiveThenPassive, true}}) {
        Start(WithTls("localhost", c.serverRequires ? std::vector<std::string>{"--tls-required"}
                                                    : std::vector<std::string>{}));
        ftp.UseTLS = c.tls;
        ftp.DataMode = c.mode;
        ftp.TlsTrustFile = server->caFile();
        const std::string content = qvtest::Pattern(100000, 7);
        std::string error;
        ASSERT_TRUE(Store(content, "l.cab", &error)) << error;
        EXPECT_TRUE(ftp.Secured());
        EXPECT_TRUE(Has(rec.events, "ftpTlsSecured TLS session established (TLSv1."));
        EXPECT_FALSE(Has(rec.events, "ftpTlsDataClear"));
        EXPECT_EQ(Stored("l.cab"), content);
        ftp.CloseSession();
        rec.events.clear();
    }
}

TEST_P(OfficeNetwork, CertificatesTheSystemDoesNotTrustOrForAnotherNameAreRefused)
{
    if (!qv::net::TlsAvailable())
        GTEST_SKIP() << "built without TLS";
    struct Case {
        std::string certName;
        bool trustTheAuthority;
        std::string reason;
    };
    // Over IPv4 by the name "localhost", so both the name check and the
    // address check are seen. The reasons are the TLS library's own.
#ifdef _WIN32
    const std::string untrusted = "the server's certificate was not issued by an authority this computer trusts";
    const std::string mismatch = Host() == "::1" ? "the server's certificate is not for the address ::1"
                                                 : "the server's certificate is not for localhost";
#else
    const std::string untrusted = "unable to get local issuer certificate";
    const std::string mismatch = Host() == "::1" ? "IP address mismatch" : "hostname mismatch";
#endif
    for (const Case &c : {Case{"localhost", false, untrusted}, Case{"ftp.example.org", true, mismatch}}) {
        for (qv::TIdTlsMode tls : {qv::tlsIfOffered, qv::tlsRequired}) {
            SCOPED_TRACE(c.reason);
            Start(WithTls(c.certName));
            ftp.UseTLS = tls;
            if (Host() != "::1")
                ftp.Host = "localhost";
            ftp.TlsTrustFile = c.trustTheAuthority ? server->caFile() : std::string();
            bool certificate = false;
            std::string text;
            try {
                ftp.OpenSession(true);
            } catch (const qv::net::ETlsError &e) {
                certificate = e.certificate();
                text = e.what();
            }
            EXPECT_TRUE(certificate);
            EXPECT_EQ(text, c.reason);
            // No fallback to plain text after a refused certificate: no login.
            EXPECT_FALSE(Has(rec.events, "ftpReady Connection established"));
            EXPECT_FALSE(ftp.Connected());
            rec.events.clear();
        }
    }
}

TEST_P(OfficeNetwork, WithoutTlsOnEitherSideAutoGoesPlainAndRequiredRefuses)
{
    if (qv::net::TlsAvailable()) {
        Start();  // a server without TLS
        ftp.UseTLS = qv::tlsIfOffered;
        ASSERT_TRUE(Store("abc", "m.cab"));
        EXPECT_TRUE(Has(rec.events, "ftpTlsNotOffered"));
        EXPECT_FALSE(ftp.Secured());
        ftp.CloseSession();
    }

    Start(WithTls());  // a program built without TLS
    ftp.TlsLibrary = false;
    ftp.UseTLS = qv::tlsIfOffered;
    ASSERT_TRUE(Store("abc", "n.cab"));
    EXPECT_TRUE(Has(rec.events, "ftpTlsUnavailable"));
    ftp.CloseSession();

    ftp.UseTLS = qv::tlsRequired;
    std::string error;
    EXPECT_FALSE(Store("abc", "o.cab", &error));
    EXPECT_EQ(error, "This program has no TLS; the password was not sent.");
    EXPECT_FALSE(ftp.Connected());
}
