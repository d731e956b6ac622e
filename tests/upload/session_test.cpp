// The session against a scripted server: replies and failures a real server
// will not produce on demand.
#include "CoreTest.h"
#include "recorder.h"
#include "scripted_server.h"

#include "upload/IdFTP.h"

#include <gtest/gtest.h>


#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <regex>
#include <thread>

using qv::test::ErrorOf;
using qvtest::Closing;
using qvtest::Join;
using qvtest::Peer;
using qvtest::ScriptedServer;

namespace {

const std::string kPassword = "s3cret-Pw!";

const std::vector<std::string> kConnect = {"hsConnecting Connecting to 127.0.0.1.", "hsConnected Connected.",
                                           "OnConnected"};
const std::vector<std::string> kLoggedIn = Join(kConnect, {"ftpReady Connection established"});
const std::vector<std::string> kLoginCommands = {"USER qv", "PASS " + kPassword, "TYPE I", "SYST"};

struct Session {
    qv::TIdFTP ftp;
    qvtest::Recorder rec;

    explicit Session(int port)
    {
        ftp.Host = "127.0.0.1";
        ftp.Port = port;
        ftp.Username = "qv";
        ftp.Password = kPassword;
        ftp.ReadTimeout = 5000;
        ftp.AcceptTimeout = 5000;
        rec.Attach(ftp);
    }
};

// The reply code carried by the reply error f raises; -1 for anything else.
template <class F>
int ReplyCodeOf(F f)
{
    try {
        f();
    } catch (const qv::EIdReplyError &e) {
        return e.ReplyCode();
    } catch (const std::exception &) {
    }
    return -1;
}

// A port that was free a moment ago on both loopbacks: nobody listens there.
int FreePort()
{
    for (;;) {
        auto probe = qv::net::Socket::CreateTcp();
        probe.Bind("127.0.0.1", 0);
        const int port = probe.LocalPort();
        try {
            auto probe6 = qv::net::Socket::CreateTcp(qv::net::Family::IPv6);
            probe6.Bind("::1", port);
        } catch (const qv::net::ESocketError &e) {
            if (e.code() == qv::net::kErrAddressInUse)
                continue;
        }
        return port;
    }
}

bool Ipv6LoopbackAvailable()
{
    try {
        auto probe = qv::net::Socket::CreateTcp(qv::net::Family::IPv6);
        probe.Bind("::1", 0);
        return true;
    } catch (const qv::net::ESocketError &) {
        return false;
    }
}

std::vector<std::string> Tail(const std::vector<std::string> &v, std::size_t from)
{
    return from <= v.size() ? std::vector<std::string>(v.begin() + std::ptrdiff_t(from), v.end())
                            : std::vector<std::string>{};
}

}  // namespace

// ---- reading replies ----

TEST(FtpReplies, MultiLineGreetingIsReadAsOneReply)
{
    ScriptedServer server([](Peer &p) { p.Send("220-Welcome to\r\n220-the scripted\r\n220 server\r\n"); });
    Session s(server.port());
    s.ftp.OpenSession(false);

    EXPECT_TRUE(s.ftp.Connected());
    EXPECT_EQ(s.ftp.LastCmdResult().NumericCode, 220);
    EXPECT_EQ(s.ftp.LastCmdResult().TextCode, "220");
    EXPECT_EQ(s.ftp.LastCmdResult().Text, (std::vector<std::string>{"Welcome to", "the scripted", "server"}));
    EXPECT_EQ(s.rec.events, kConnect);

    s.ftp.CloseSession();
    EXPECT_EQ(server.Finish(), std::vector<std::string>{"QUIT"});
    EXPECT_EQ(s.rec.events, Join(kConnect, Closing()));
    EXPECT_FALSE(s.ftp.Connected());
}

// Replies in every shape servers send: each script logs in only when every
// reply in it is read to its true end.
TEST(FtpReplies, EveryShapeOfReplyEndsWhereItEnds)
{
    struct Case {
        const char *what;
        std::function<void(Peer &)> script;
        std::vector<std::string> commands;
    };
    const std::vector<Case> cases = {
        // If "220" alone did not end the greeting, the client would take the
        // answer to USER as part of it and then wait for a reply that never
        // comes; a 230 to USER skips the password.
        {"short last line",
         [](Peer &p) {
             p.Send("220-Hello\r\n  indented text\r\n220\r\n");
             p.Expect("USER qv");
             p.Reply("230 No password needed");
             p.Expect("TYPE I");
             p.Reply("200 Binary");
             p.Expect("SYST");
             p.Reply("215 UNIX");
         },
         {"USER qv", "TYPE I", "SYST", "QUIT"}},
        // Inside a multi-line reply, a line padded with blanks is text even
        // when the code follows them (RFC 959); taken for the last line, it
        // would make "230 Done" the answer to TYPE I.
        {"bare line feeds, blank padding, empty lines",
         [](Peer &p) {
             p.Send("\r\n\n   220 Padded greeting \t \n");
             p.Expect("USER ");
             p.Send("331 Password please\n");
             p.Expect("PASS ");
             p.Send("230-Welcome\n\n   \n  230 of 500 users\n230-  more\n 230 Done\n230 Done\n");
             p.Expect("TYPE I");
             p.Send("200 ok\n");
             p.Expect("SYST");
             p.Send("215 UNIX\n");
         },
         Join(kLoginCommands, {"QUIT"})},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer server(c.script);
        Session s(server.port());
        s.ftp.OpenSession(true);
        EXPECT_EQ(s.rec.events, kLoggedIn);
        EXPECT_EQ(s.ftp.LastCmdResult().Text, std::vector<std::string>{"UNIX"});
        s.ftp.CloseSession();
        EXPECT_EQ(server.Finish(), c.commands);
    }
}

TEST(FtpReplies, TerminatorIgnoresCaseAndNonNumericCodeIsZero)
{
    // A case-sensitive comparison would keep reading past "ABC Last" and time out.
    ScriptedServer server([](Peer &p) {
        p.Send("abc-First\r\nmiddle line\r\nABC Last\r\n");
        p.AwaitClose();
    });
    Session s(server.port());
    std::string text;
    int code = -1;
    try {
        s.ftp.OpenSession(true);
    } catch (const qv::EIdReplyError &e) {
        text = e.what();
        code = e.ReplyCode();
    }
    EXPECT_EQ(code, 0);
    EXPECT_EQ(text, "First\r\nle line\r\nLast");
    EXPECT_EQ(s.ftp.LastCmdResult().TextCode, "abc");
    EXPECT_EQ(s.rec.events, Join(kConnect, Closing()));
    EXPECT_FALSE(s.ftp.Connected());
    EXPECT_EQ(server.Finish(), std::vector<std::string>{});  // no QUIT after a failed opening
}

TEST(FtpReplies, LineOfMaximumLengthIsAcceptedOneMoreIsNot)
{
    const std::string longest = "220 " + std::string(16380, 'x');  // 16384 characters
    {
        // The carriage return arrives apart from its line feed, right at the limit.
        ScriptedServer server([&](Peer &p) {
            p.Send(longest + "\r");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            p.Send("\n");
        });
        Session s(server.port());
        s.ftp.OpenSession(false);
        EXPECT_EQ(s.ftp.LastCmdResult().Text.at(0).size(), 16380u);
        s.ftp.CloseSession();
        server.Finish();
    }
    for (bool withLineEnd : {true, false}) {
        ScriptedServer server([&](Peer &p) {
            p.Send(longest + (withLineEnd ? "y\r\n" : "yz"));
            p.AwaitClose();
        });
        Session s(server.port());
        EXPECT_EQ(ErrorOf([&] { s.ftp.OpenSession(true); }), "Max line length exceeded.");
        EXPECT_EQ(s.rec.events, Join(kConnect, Closing()));
        EXPECT_FALSE(s.ftp.Connected());
        server.Finish();
    }
}

TEST(FtpReplies, SilentServerRunsIntoReplyTimeLimit)
{
    ScriptedServer server([](Peer &p) { p.AwaitClose(); });
    Session s(server.port());
    s.ftp.ReadTimeout = 300;
    EXPECT_EQ(ErrorOf([&] { s.ftp.OpenSession(true); }), "Read timed out.");
    EXPECT_EQ(s.rec.events, Join(kConnect, Closing()));
    EXPECT_FALSE(s.ftp.Connected());
    server.Finish();
}

TEST(FtpReplies, ReplyWithoutEndFailsAtItsLimitWithoutReadingItAll)
{
    struct Case {
        const char *what;
        std::string line;  // sent again and again
        int pauseMs;
        std::string error;
    };
    const Case cases[] = {
        {"many lines", "220-Welcome\r\n", 0, "The server's reply has more than 1000 lines."},
        {"a greeting of gigabytes", "220-" + std::string(4000, 'x') + "\r\n", 0,
         "The server's reply is longer than 1048576 bytes."},
        {"a line now and then", "220-Still here\r\n", 20, "The server's reply did not end within 1 s."},
        {"blank lines", "\r\n", 0, "The server's reply has more than 1000 lines."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // At most 64 MiB, or a minute's worth of lines now and then: the
        // client is to hang up long before.
        const std::size_t most = c.pauseMs ? 3000 : (64u << 20) / c.line.size();
        std::size_t sent = 0;
        ScriptedServer server([&](Peer &p) {
            try {
                p.Send("220-Hello\r\n");
                for (; sent < most; ++sent) {
                    p.Send(c.line);
                    if (c.pauseMs)
                        std::this_thread::sleep_for(std::chrono::milliseconds(c.pauseMs));
                }
            } catch (const std::exception &) {
                // the client hung up, as it should
            }
            p.Close();
        });
        Session s(server.port());
        // The count limits are to hit first however slow the machine; the
        // time limit only where lines keep trickling in.
        s.ftp.ReadTimeout = c.pauseMs ? 300 : 30000;
        std::string text;
        bool tooLong = false;
        try {
            s.ftp.OpenSession(true);
        } catch (const qv::EIdReplyTooLong &e) {
            tooLong = true;
            text = e.what();
        }
        EXPECT_TRUE(tooLong);
        EXPECT_EQ(text, c.error);
        EXPECT_EQ(s.rec.events, Join(kConnect, Closing()));
        EXPECT_FALSE(s.ftp.Connected());
        EXPECT_EQ(server.Finish(), std::vector<std::string>{});
        EXPECT_LT(sent, most) << "the client read the reply to its end";
    }
}

// ---- opening and login ----

TEST(FtpLogin, Syst500IsAcceptedSyst502FailsAndCloses)
{
    for (int code : {500, 502}) {
        ScriptedServer server([code](Peer &p) {
            p.Reply("220 ready");
            p.Expect("USER ");
            p.Reply("331 Password required");
            p.Expect("PASS ");
            p.Reply("230 Logged in");
            p.Expect("TYPE I");
            p.Reply("200 Type set to I");
            p.Expect("SYST");
            p.Reply(std::to_string(code) + " SYST not understood");
        });
        Session s(server.port());
        if (code == 500) {
            s.ftp.OpenSession(true);
            EXPECT_EQ(s.rec.events, kLoggedIn);
            EXPECT_TRUE(s.ftp.Connected());
            s.ftp.CloseSession();
            EXPECT_EQ(server.Finish(), Join(kLoginCommands, {"QUIT"}));
        } else {
            std::string text;
            try {
                s.ftp.OpenSession(true);
            } catch (const qv::EIdReplyError &e) {
                EXPECT_EQ(e.ReplyCode(), 502);
                text = e.what();
            }
            EXPECT_EQ(text, "SYST not understood");
            EXPECT_EQ(s.rec.events, Join(kConnect, Closing()));
            EXPECT_FALSE(s.ftp.Connected());
            EXPECT_EQ(server.Finish(), kLoginCommands);  // closed without QUIT
        }
    }
}

TEST(FtpLogin, WrongPasswordFailsAndNeverShowsThePassword)
{
    ScriptedServer server([](Peer &p) {
        p.Reply("220 ready");
        p.Expect("USER ");
        p.Reply("331 Password required for qv");
        p.Expect("PASS ");
        p.Reply("530 Login incorrect.");
    });
    Session s(server.port());
    int code = ReplyCodeOf([&] { s.ftp.OpenSession(true); });
    EXPECT_EQ(code, 530);
    EXPECT_EQ(s.ftp.LastCmdResult().Text, std::vector<std::string>{"Login incorrect."});
    EXPECT_EQ(s.rec.events, Join(kConnect, Closing()));
    for (const auto &e : s.rec.events)
        EXPECT_EQ(e.find(kPassword), std::string::npos) << e;
    EXPECT_FALSE(s.ftp.Connected());
    EXPECT_EQ(server.Finish(), (std::vector<std::string>{"USER qv", "PASS " + kPassword}));
}

TEST(FtpLogin, SecondOpeningFailsAndClosesTheSession)
{
    ScriptedServer server([](Peer &p) { p.Login(); });
    Session s(server.port());
    s.ftp.OpenSession(true);
    EXPECT_EQ(ErrorOf([&] { s.ftp.OpenSession(true); }), "Already connected.");
    EXPECT_EQ(s.rec.events, Join(kLoggedIn, Closing()));
    EXPECT_FALSE(s.ftp.Connected());
    EXPECT_EQ(server.Finish(), kLoginCommands);
}

TEST(FtpLogin, EveryAddressOfTheHostIsTriedUntilOneAnswers)
{
    if (!Ipv6LoopbackAvailable())
        GTEST_SKIP() << "this machine has no IPv6 loopback (::1)";
    struct Case {
        const char *listening;  // the server's only address
        std::vector<std::string> addresses;
    };
    const Case cases[] = {
        {"127.0.0.1", {"::1", "127.0.0.1"}},
        {"::1", {"127.0.0.1", "::1"}},
        {"::1", {"127.0.0.1", "127.0.0.1", "::1"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.listening);
        ScriptedServer server([](Peer &p) { p.Reply("220 ready"); }, c.listening);
        Session s(server.port());
        s.ftp.Host = "ftp.example.invalid";
        s.ftp.ResolveAddresses = [&](const std::string &host) {
            EXPECT_EQ(host, "ftp.example.invalid");
            return c.addresses;
        };
        s.ftp.OpenSession(false);
        std::vector<std::string> expected{"hsResolving Resolving hostname ftp.example.invalid."};
        for (const auto &a : c.addresses)
            expected.push_back("hsConnecting Connecting to " + a + ".");
        EXPECT_EQ(s.rec.events, Join(expected, {"hsConnected Connected.", "OnConnected"}));
        s.ftp.CloseSession();
        server.Finish();
    }

    // None answers: the last attempt's failure.
    Session s(FreePort());
    s.ftp.Host = "ftp.example.invalid";
    s.ftp.ResolveAddresses = [](const std::string &) { return std::vector<std::string>{"::1", "127.0.0.1"}; };
    EXPECT_EQ(ErrorOf([&] { s.ftp.OpenSession(false); }), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(s.rec.events, Join({"hsResolving Resolving hostname ftp.example.invalid.",
                                  "hsConnecting Connecting to ::1.", "hsConnecting Connecting to 127.0.0.1."},
                                 Closing()));
}

class LocalhostOnOneLoopback : public ::testing::TestWithParam<const char *> {};

INSTANTIATE_TEST_SUITE_P(FtpLogin, LocalhostOnOneLoopback, ::testing::Values("127.0.0.1", "::1"),
                         [](const auto &info) { return std::string(info.index == 0 ? "IPv4" : "IPv6"); });

TEST_P(LocalhostOnOneLoopback, IsReachedByTheName)
{
    const std::string listening = GetParam();
    if (qv::net::FamilyOf(listening) == qv::net::Family::IPv6 && !Ipv6LoopbackAvailable())
        GTEST_SKIP() << "this machine has no IPv6 loopback (::1)";
    const auto names = qv::net::ResolveAll("localhost");
    if (std::find(names.begin(), names.end(), listening) == names.end())
        GTEST_SKIP() << "localhost does not stand for " << listening << " on this machine";
    ScriptedServer server([](Peer &p) { p.Reply("220 ready"); }, listening);
    Session s(server.port());
    s.ftp.Host = "LocalHost";
    s.ftp.OpenSession(false);
    ASSERT_GE(s.rec.events.size(), 4u);
    EXPECT_EQ(s.rec.events.front(), "hsResolving Resolving hostname LocalHost.");
    // Addresses before the server's own were tried and refused.
    EXPECT_EQ(Tail(s.rec.events, s.rec.events.size() - 3),
              (std::vector<std::string>{"hsConnecting Connecting to " + listening + ".", "hsConnected Connected.",
                                        "OnConnected"}));
    s.ftp.CloseSession();
    server.Finish();
}

TEST(FtpLogin, SocketFailuresCarryTheirNumberAndText)
{
    Session s(FreePort());
    EXPECT_EQ(ErrorOf([&] { s.ftp.OpenSession(true); }), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(s.rec.events, Join({"hsConnecting Connecting to 127.0.0.1."}, Closing()));
    EXPECT_FALSE(s.ftp.Connected());

    s.rec.events.clear();
    s.ftp.Port = 70000;
    EXPECT_EQ(ErrorOf([&] { s.ftp.OpenSession(true); }),
              "Socket Error # 10049\r\nCannot assign requested address.");
    EXPECT_EQ(s.rec.events, Join({"hsConnecting Connecting to 127.0.0.1."}, Closing()));
}

TEST(FtpLogin, LocalPortInUseCannotBeBound)
{
    auto holder = qv::net::Socket::CreateTcp();
    holder.Bind("127.0.0.1", 0);
    holder.Listen(1);
    Session s(holder.LocalPort());
    s.ftp.BoundPort = holder.LocalPort();
    EXPECT_EQ(ErrorOf([&] { s.ftp.OpenSession(true); }),
              "Could not bind socket. Address and port are already in use.");
    EXPECT_EQ(s.rec.events, Closing());
    EXPECT_FALSE(s.ftp.Connected());
}

TEST(FtpLogin, ClosingANeverOpenedSessionOnlyReportsTheClosing)
{
    Session s(21);
    s.ftp.CloseSession();
    EXPECT_EQ(s.rec.events, Closing());
    EXPECT_FALSE(s.ftp.Connected());
    EXPECT_EQ(ErrorOf([&] { s.ftp.ChangeFolder("dane"); }), "Not Connected");
}

// ---- commands after login ----

TEST(FtpCommands, RefusedChangeOfFolderLeavesSessionOpen)
{
    ScriptedServer server([](Peer &p) {
        p.Login();
        p.Expect("CWD dane");
        p.Send("550-dane:\r\n550 No such folder\r\n");
        p.Expect("CWD dane");
        p.Reply("250 Folder changed");
    });
    Session s(server.port());
    s.ftp.OpenSession(true);
    std::string text;
    try {
        s.ftp.ChangeFolder("dane");
    } catch (const qv::EIdReplyError &e) {
        EXPECT_EQ(e.ReplyCode(), 550);
        text = e.what();
    }
    EXPECT_EQ(text, "dane:\r\nNo such folder");
    EXPECT_TRUE(s.ftp.Connected());
    s.ftp.ChangeFolder("dane");  // still logged in and in step with the server
    EXPECT_EQ(s.rec.events, kLoggedIn);
    s.ftp.CloseSession();
    EXPECT_EQ(server.Finish(), Join(kLoginCommands, {"CWD dane", "CWD dane", "QUIT"}));
}

TEST(FtpCommands, LineBreaksInArgumentsAreRefusedBeforeSending)
{
    qv::test::ScratchDir dir;
    const std::string local = qvtest::WriteFile(dir.path(), "a.cab", "abc");
    ScriptedServer server([](Peer &p) { p.Login(); });
    Session s(server.port());
    s.ftp.OpenSession(true);
    EXPECT_NE(ErrorOf([&] { s.ftp.ChangeFolder("dane\r\nDELE x"); }), "<no error>");
    EXPECT_NE(ErrorOf([&] { s.ftp.StoreFile(local, "x.cab\r\nDELE y"); }), "<no error>");
    EXPECT_NE(ErrorOf([&] { s.ftp.StoreFile(local, ""); }), "<no error>");
    EXPECT_EQ(s.rec.events, kLoggedIn);
    s.ftp.CloseSession();
    EXPECT_EQ(server.Finish(), Join(kLoginCommands, {"QUIT"}));
}

// ---- storing ----

TEST(FtpStore, RefusedStoreReportsTransferStatusesButNoProgress)
{
    qv::test::ScratchDir dir;
    const std::string content = qvtest::Pattern(5000);
    const std::string local = qvtest::WriteFile(dir.path(), "a.cab", content);
    std::string received;
    ScriptedServer server([&](Peer &p) {
        p.Login();
        p.Expect("PORT ");
        p.Reply("200 PORT ok");
        p.Expect("STOR ");
        p.Reply("550 Permission denied");
        // The session stays usable: the next store goes through.
        p.Expect("PORT ");
        p.Reply("200 PORT ok");
        p.Expect("STOR ");
        p.Reply("125 Data connection open");
        auto data = p.ConnectBack();
        received = Peer::ReceiveAll(data);
        p.Reply("250 Stored");
    });
    Session s(server.port());
    s.ftp.OpenSession(true);
    const std::size_t before = s.rec.events.size();
    EXPECT_EQ(ReplyCodeOf([&] { s.ftp.StoreFile(local, "one.cab"); }), 550);
    EXPECT_EQ(Tail(s.rec.events, before),
              (std::vector<std::string>{"ftpTransfer Starting FTP transfer", "ftpReady Transfer complete"}));
    EXPECT_TRUE(s.ftp.Connected());
    EXPECT_FALSE(s.ftp.StoreStarted()) << "a refused store left nothing to delete";

    const std::size_t second = s.rec.events.size();
    s.ftp.StoreFile(local, "two.cab");
    EXPECT_EQ(Tail(s.rec.events, second),
              (std::vector<std::string>{"ftpTransfer Starting FTP transfer", "OnWorkBegin wmWrite 5000",
                                        "OnWork wmWrite 5000", "OnWorkEnd wmWrite", "ftpReady Transfer complete"}));
    s.ftp.CloseSession();
    auto commands = server.Finish();
    EXPECT_EQ(received, content);
    ASSERT_EQ(commands.size(), 9u);
    const std::regex port(R"(PORT 127,0,0,1,\d{1,3},\d{1,3})");
    EXPECT_TRUE(std::regex_match(commands[4], port)) << commands[4];
    EXPECT_EQ(commands[5], "STOR one.cab");
    EXPECT_TRUE(std::regex_match(commands[6], port)) << commands[6];
    EXPECT_EQ(commands[7], "STOR two.cab");
    EXPECT_EQ(commands[8], "QUIT");
}

TEST(FtpStore, RefusalAfterTheDataIsTheFinalReply)
{
    // Nothing follows such a reply: a client that waited for another would
    // time out, and then take the next reply for the one it waited for.
    qv::test::ScratchDir dir;
    const std::string content = qvtest::Pattern(70000, 7);
    const std::string local = qvtest::WriteFile(dir.path(), "a.cab", content);
    for (int code : {426, 450, 451, 552}) {
        SCOPED_TRACE(code);
        std::string received;
        ScriptedServer server([&](Peer &p) {
            p.Login();
            p.AcceptStore("150 Opening BINARY mode data connection");
            auto data = p.ConnectBack();
            received = Peer::ReceiveAll(data);
            p.Reply(std::to_string(code) + " Transfer aborted.");
            p.Expect("DELE x.cab");
            p.Reply("250 Deleted");
        });
        Session s(server.port());
        s.ftp.ReadTimeout = 1000;
        s.ftp.OpenSession(true);
        const std::size_t before = s.rec.events.size();
        EXPECT_EQ(ReplyCodeOf([&] { s.ftp.StoreFile(local, "x.cab"); }), code);
        std::vector<std::string> expected{"ftpTransfer Starting FTP transfer", "OnWorkBegin wmWrite 70000",
                                          "OnWork wmWrite 32768",           "OnWork wmWrite 65536",
                                          "OnWork wmWrite 70000",           "OnWorkEnd wmWrite",
                                          "ftpReady Transfer complete"};
        if (code == 426)
            expected.push_back("ftpAborted Transfer aborted");
        EXPECT_EQ(Tail(s.rec.events, before), expected);
        EXPECT_TRUE(s.ftp.StoreStarted());
        EXPECT_EQ(ErrorOf([&] { s.ftp.Delete("x.cab"); }), "<no error>");
        s.ftp.CloseSession();
        EXPECT_EQ(Tail(server.Finish(), 5), (std::vector<std::string>{"STOR x.cab", "DELE x.cab", "QUIT"}));
        EXPECT_EQ(received, content);
    }
}

TEST(FtpStore, DataConnectionDroppedMidTransfer)
{
    qv::test::ScratchDir dir;
    const std::size_t size = 32u << 20;  // far more than the socket buffers hold
    const std::string local = qvtest::WriteFile(dir.path(), "big.cab", qvtest::Pattern(size));
    ScriptedServer server([&](Peer &p) {
        p.Login();
        p.AcceptStore();
        auto data = p.ConnectBack();
        Peer::ReceiveAtLeast(data, 100000);
        data.Close(true);  // reset, as a crashing server would
        p.AwaitClose();
    });
    Session s(server.port());
    s.ftp.OpenSession(true);
    const std::size_t before = s.rec.events.size();
    EXPECT_EQ(ErrorOf([&] { s.ftp.StoreFile(local, "big.cab"); }),
              "Socket Error # 10054\r\nConnection reset by peer.");
    auto events = Tail(s.rec.events, before);
    ASSERT_GE(events.size(), 5u);
    EXPECT_EQ(events[0], "ftpTransfer Starting FTP transfer");
    EXPECT_EQ(events[1], "OnWorkBegin wmWrite " + std::to_string(size));
    EXPECT_EQ(events[events.size() - 2], "OnWorkEnd wmWrite");
    EXPECT_EQ(events.back(), "ftpReady Transfer complete");
    auto totals = s.rec.WorkTotals();
    ASSERT_FALSE(totals.empty());
    EXPECT_EQ(totals.size(), events.size() - 4);  // nothing else in between
    EXPECT_TRUE(std::is_sorted(totals.begin(), totals.end()));
    EXPECT_LT(totals.back(), std::int64_t(size));
    EXPECT_TRUE(s.ftp.Connected());
    s.ftp.CloseSession();
    EXPECT_EQ(server.Finish().back(), "QUIT");
}

TEST(FtpStore, ControlConnectionClosedBeforeFinalReply)
{
    qv::test::ScratchDir dir;
    const std::string local = qvtest::WriteFile(dir.path(), "a.cab", qvtest::Pattern(100));
    ScriptedServer server([&](Peer &p) {
        p.Login();
        p.AcceptStore();
        auto data = p.ConnectBack();
        Peer::ReceiveAll(data);
        p.Close();
    });
    Session s(server.port());
    s.ftp.OpenSession(true);
    const std::size_t before = s.rec.events.size();
    EXPECT_EQ(ErrorOf([&] { s.ftp.StoreFile(local, "a.cab"); }), "Connection Closed Gracefully.");
    EXPECT_EQ(Tail(s.rec.events, before),
              (std::vector<std::string>{"ftpTransfer Starting FTP transfer", "OnWorkBegin wmWrite 100",
                                        "OnWork wmWrite 100", "OnWorkEnd wmWrite", "ftpReady Transfer complete"}));
    // Closing a session whose server has gone still succeeds and reports itself.
    const std::size_t closing = s.rec.events.size();
    EXPECT_EQ(ErrorOf([&] { s.ftp.CloseSession(); }), "<no error>");
    EXPECT_EQ(Tail(s.rec.events, closing), Closing());
    EXPECT_FALSE(s.ftp.Connected());
    server.Finish();
}

TEST(FtpStore, StopWhileTheFinalReplyIsDueDeletesOverANewConnection)
{
    // The server has the whole file and never answers. Its answer, were it
    // to come, would pass for the answer to "DELE": the old connection is
    // dropped, which makes the server abandon the store, and a new one, with
    // the login and the folder of the old, deletes the file.
    qv::test::ScratchDir dir;
    const std::string local = qvtest::WriteFile(dir.path(), "a.cab", qvtest::Pattern(3000, 13));
    const std::string remote = "AB12~2026-12-08_141502.cab";
    for (bool secondServed : {true, false}) {
        SCOPED_TRACE(secondServed ? "a new connection is taken" : "a new connection is refused");
        std::vector<ScriptedServer::Script> scripts{[&](Peer &p) {
            p.Login();
            p.Expect("CWD dane");
            p.Reply("250 Directory successfully changed.");
            p.AcceptStore("150 Ok to send data.");
            auto data = p.ConnectBack();
            Peer::ReceiveAll(data);
            p.AwaitClose();
        }};
        if (secondServed)
            scripts.push_back([&](Peer &p) {
                p.Login();
                p.Expect("CWD dane");
                p.Reply("250 Directory successfully changed.");
                p.Expect("DELE ");
                p.Reply("250 Delete operation successful.");
            });
        ScriptedServer server(scripts);
        Session s(server.port());
        s.ftp.CleanupTimeout = 1000;
        s.ftp.OnIdle = [&] {
            if (s.rec.events.back() == "ftpReady Transfer complete")
                s.ftp.Stop();
        };
        s.ftp.OpenSession(true);
        s.ftp.ChangeFolder("dane");
        EXPECT_EQ(ErrorOf([&] { s.ftp.StoreFile(local, remote); }), "Stopped.");
        ASSERT_TRUE(s.ftp.StoreStarted());
        s.ftp.OnIdle = nullptr;
        const std::size_t before = s.rec.events.size();
        const std::string error = ErrorOf([&] { s.ftp.Delete(remote); });
        const std::vector<std::string> reopening =
            Join({"ftpReconnecting The control connection is out of step; opening a new one"},
                 Join(Closing(), {"hsConnecting Connecting to 127.0.0.1."}));
        if (secondServed) {
            EXPECT_EQ(error, "<no error>");
            EXPECT_EQ(Tail(s.rec.events, before), Join(reopening, Tail(kLoggedIn, 1)));
            EXPECT_TRUE(s.ftp.StoreStarted());
        } else {
            EXPECT_EQ(error, "Socket Error # 10061\r\nConnection refused.");
            EXPECT_EQ(Tail(s.rec.events, before), Join(reopening, Closing()));
        }
        s.ftp.CloseSession();
        server.Finish();
        const auto &connections = server.Connections();
        ASSERT_EQ(connections.size(), secondServed ? 2u : 1u);
        // No QUIT on the old connection: after it the server would finish the store.
        EXPECT_EQ(connections[0].back(), "STOR " + remote);
        if (secondServed) {
            EXPECT_EQ(connections[1], Join(kLoginCommands, {"CWD dane", "DELE " + remote, "QUIT"}));
        }
    }
}

TEST(FtpStore, ServerThatNeverConnectsBackRunsIntoTimeLimit)
{
    qv::test::ScratchDir dir;
    const std::string local = qvtest::WriteFile(dir.path(), "a.cab", qvtest::Pattern(100));
    ScriptedServer server([&](Peer &p) {
        p.Login();
        p.AcceptStore();
        p.AwaitClose();
    });
    Session s(server.port());
    s.ftp.AcceptTimeout = 300;
    s.ftp.OpenSession(true);
    const std::size_t before = s.rec.events.size();
    EXPECT_EQ(ErrorOf([&] { s.ftp.StoreFile(local, "a.cab"); }), "Timed out waiting for the data connection.");
    EXPECT_EQ(Tail(s.rec.events, before),
              (std::vector<std::string>{"ftpTransfer Starting FTP transfer", "ftpReady Transfer complete"}));
    EXPECT_TRUE(s.ftp.Connected());
    s.ftp.CloseSession();
    EXPECT_EQ(server.Finish().back(), "QUIT");
}

TEST(FtpStore, ServerThatStopsReadingRunsIntoTimeLimit)
{
    qv::test::ScratchDir dir;
    const std::size_t size = 32u << 20;
    const std::string local = qvtest::WriteFile(dir.path(), "big.cab", qvtest::Pattern(size));
    ScriptedServer server([&](Peer &p) {
        p.Login();
        p.AcceptStore();
        auto data = p.ConnectBack();  // held open, never read
        p.AwaitClose();
    });
    Session s(server.port());
    s.ftp.ReadTimeout = 300;
    s.ftp.OpenSession(true);
    const std::size_t before = s.rec.events.size();
    EXPECT_EQ(ErrorOf([&] { s.ftp.StoreFile(local, "big.cab"); }), "Write timed out.");
    auto events = Tail(s.rec.events, before);
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[1], "OnWorkBegin wmWrite " + std::to_string(size));
    EXPECT_EQ(events[events.size() - 2], "OnWorkEnd wmWrite");
    EXPECT_EQ(events.back(), "ftpReady Transfer complete");
    EXPECT_TRUE(s.ftp.Connected());
    s.ftp.CloseSession();
    server.Finish();
}

TEST(FtpStore, MissingLocalFileFailsBeforeAnythingIsSent)
{
    qv::test::ScratchDir dir;
    ScriptedServer server([](Peer &p) { p.Login(); });
    Session s(server.port());
    s.ftp.OpenSession(true);
    std::string text = ErrorOf([&] { s.ftp.StoreFile(dir / "missing.cab", "a.cab"); });
    EXPECT_EQ(text.rfind("System Error.  Code: 2.\r\n", 0), 0u) << text;
    text = ErrorOf([&] { s.ftp.StoreFile(dir.path(), "a.cab"); });  // a folder
    EXPECT_EQ(text.rfind("System Error.  Code: ", 0), 0u) << text;
    EXPECT_EQ(s.rec.events, kLoggedIn);
    EXPECT_TRUE(s.ftp.Connected());
    s.ftp.CloseSession();
    EXPECT_EQ(server.Finish(), Join(kLoginCommands, {"QUIT"}));
}

TEST(FtpStore, StoringWithoutASessionFailsAsNotConnected)
{
    qv::test::ScratchDir dir;
    const std::string local = qvtest::WriteFile(dir.path(), "a.cab", "abc");
    Session s(21);
    EXPECT_EQ(ErrorOf([&] { s.ftp.StoreFile(local, "a.cab"); }), "Not Connected");
    EXPECT_EQ(s.rec.events,
              (std::vector<std::string>{"ftpTransfer Starting FTP transfer", "ftpReady Transfer complete"}));
}

// ---- passive mode, the fallback and TLS refusals, from bytes ----

TEST(FtpPassive, PassiveRepliesYieldAPortOrNothing)
{
    struct Case {
        const char *text;
        std::optional<int> port;
    };
    const Case epsv[] = {
        {"Entering Extended Passive Mode (|||6446|)", 6446},
        {"ok (!!!1!)", 1},
        {"(|||65535|)", 65535},
        {"(|||65536|)", std::nullopt},
        {"(|||0|)", std::nullopt},
        {"(||||)", std::nullopt},
        {"(|||12a|)", std::nullopt},
        {"(|||6446)", std::nullopt},
        {"(|1|10.0.0.1|6446|)", std::nullopt},  // an address is not ours to take
        {"(111222|)", std::nullopt},
        {"Entering Extended Passive Mode |||6446|", std::nullopt},
        {"(|||99999999999999999999|)", std::nullopt},
        {"(", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case &c : epsv)
        EXPECT_EQ(qv::ParseEpsvPort(c.text), c.port) << c.text;
    const Case pasv[] = {
        {"Entering Passive Mode (127,0,0,1,200,10).", 200 * 256 + 10},
        {"=10,9,8,7,0,21", 21},
        {"Entering Passive Mode 2 (10,9,8,7,1,2)", 258},  // the first group of six, not the first digit
        {"(10,9,8,7,0,0)", std::nullopt},
        {"(10,9,8,7,256,1)", std::nullopt},
        {"(10,9,8,1000,1,1)", std::nullopt},
        {"(10,9,8,7,1)", std::nullopt},
        {"(10,9,8,7,1,2,3)", std::nullopt},
        {"(10, 9, 8, 7, 1, 2)", std::nullopt},
        {"no numbers", std::nullopt},
    };
    for (const Case &c : pasv)
        EXPECT_EQ(qv::ParsePasvPort(c.text), c.port) << c.text;
}

TEST(FtpPassive, AddressInAPassiveReplyIsIgnoredForTheServersOwn)
{
    qv::test::ScratchDir dir;
    const std::string content = qvtest::Pattern(3000, 9);
    const std::string local = qvtest::WriteFile(dir.path(), "a.cab", content);
    std::string received;
    ScriptedServer server([&](Peer &p) {
        p.Login();
        auto listener = qv::net::Socket::CreateTcp();
        listener.Bind("127.0.0.1", 0);
        listener.Listen(1);
        const int port = listener.LocalPort();
        p.Expect("EPSV");
        p.Reply("500 EPSV not understood");
        p.Expect("PASV");
        // An address elsewhere: a hostile server could aim the client at any host.
        p.Reply("227 Entering Passive Mode (10,9,8,7," + std::to_string(port >> 8) + "," +
                std::to_string(port & 0xFF) + ")");
        auto data = listener.Accept(10000);
        if (!data)
            throw std::runtime_error("the client did not connect to the server's own address");
        p.Expect("STOR a.cab");
        p.Reply("125 Go ahead");
        received = Peer::ReceiveAll(*data);
        p.Reply("226 Stored");
    });
    Session s(server.port());
    s.ftp.DataMode = qv::dmPassive;
    s.ftp.OpenSession(true);
    s.ftp.StoreFile(local, "a.cab");
    s.ftp.CloseSession();
    EXPECT_EQ(server.Finish(), Join(kLoginCommands, {"EPSV", "PASV", "STOR a.cab", "QUIT"}));
    EXPECT_EQ(received, content);

    ScriptedServer hostile([&](Peer &p) {
        p.Login();
        p.Expect("EPSV");
        p.Reply("229 Entering Extended Passive Mode (|||70000|)");
    });
    Session h(hostile.port());
    h.ftp.DataMode = qv::dmPassive;
    h.ftp.OpenSession(true);
    EXPECT_EQ(ErrorOf([&] { h.ftp.StoreFile(local, "a.cab"); }),
              "The reply to EPSV names no port: Entering Extended Passive Mode (|||70000|)");
    EXPECT_FALSE(h.ftp.StoreStarted());
    h.ftp.CloseSession();
    hostile.Finish();
}

TEST(FtpFallback, WaitingStoreIsAbortedBeforeThePassiveOne)
{
    qv::test::ScratchDir dir;
    const std::string content = qvtest::Pattern(5000, 10);
    const std::string local = qvtest::WriteFile(dir.path(), "a.cab", content);
    std::string received;
    ScriptedServer server([&](Peer &p) {
        p.Login();
        p.AcceptStore("150 Opening data connection");  // and never connects
        p.Expect("ABOR");
        p.Reply("426 Data connection failed");
        p.Reply("226 ABOR successful");
        auto listener = qv::net::Socket::CreateTcp();
        listener.Bind("127.0.0.1", 0);
        listener.Listen(1);
        p.Expect("EPSV");
        p.Reply("229 Entering Extended Passive Mode (|||" + std::to_string(listener.LocalPort()) + "|)");
        auto data = listener.Accept(10000);
        p.Expect("STOR a.cab");
        p.Reply("150 Go ahead");
        received = Peer::ReceiveAll(*data);
        p.Reply("226 Stored");
        p.Expect("SIZE a.cab");
        p.Reply("213 5000");
    });
    Session s(server.port());
    s.ftp.DataMode = qv::dmActiveThenPassive;
    s.ftp.PassiveFallbackTimeout = 300;
    s.ftp.VerifySize = true;
    s.ftp.OpenSession(true);
    const std::size_t before = s.rec.events.size();
    s.ftp.StoreFile(local, "a.cab");
    auto events = Tail(s.rec.events, before);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[1], "ftpActiveNoConnection The server did not connect within 1 s; switching to passive mode");
    EXPECT_EQ(events[2], "OnWorkBegin wmWrite 5000");
    s.ftp.CloseSession();
    auto commands = server.Finish();
    ASSERT_EQ(commands.size(), 11u);
    EXPECT_EQ(std::vector<std::string>(commands.begin() + 5, commands.end()),
              (std::vector<std::string>{"STOR a.cab", "ABOR", "EPSV", "STOR a.cab", "SIZE a.cab", "QUIT"}));
    EXPECT_EQ(received, content);
}

TEST(FtpFallback, ServerThatCannotConnectBackSaysSoAndTheStoreGoesPassive)
{
    // As vsftpd behind a router answers: at once, or after a preliminary reply.
    qv::test::ScratchDir dir;
    const std::string content = qvtest::Pattern(5000, 12);
    const std::string local = qvtest::WriteFile(dir.path(), "a.cab", content);
    struct Case {
        std::vector<std::string> replies;  // to the active "STOR"
        qv::TIdDataMode mode;
    };
    const Case cases[] = {
        {{"425 Failed to establish connection."}, qv::dmActiveThenPassive},
        {{"150 Ok to send data.", "425 Can't open data connection."}, qv::dmActiveThenPassive},
        {{"150 Ok to send data.", "426 Connection closed; transfer aborted."}, qv::dmActiveThenPassive},
        {{"425 Failed to establish connection."}, qv::dmActive},
        {{"150 Ok to send data.", "425 Can't open data connection."}, qv::dmActive},
    };
    for (const Case &c : cases) {
        const int code = std::stoi(c.replies.back().substr(0, 3));
        const bool fallback = c.mode == qv::dmActiveThenPassive;
        SCOPED_TRACE(c.replies.back() + (fallback ? " auto" : " active"));
        std::string received;
        ScriptedServer server([&](Peer &p) {
            p.Login();
            p.Expect("PORT ");
            p.Reply("200 PORT command successful. Consider using PASV.");
            p.Expect("STOR a.cab");
            for (const auto &reply : c.replies) {
                if (reply != c.replies.front())
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                p.Reply(reply);
            }
            if (!fallback)
                return;
            auto listener = qv::net::Socket::CreateTcp();
            listener.Bind("127.0.0.1", 0);
            listener.Listen(1);
            p.Expect("EPSV");
            p.Reply("229 Entering Extended Passive Mode (|||" + std::to_string(listener.LocalPort()) + "|)");
            auto data = listener.Accept(10000);
            if (!data)
                throw std::runtime_error("no passive data connection");
            p.Expect("STOR a.cab");
            p.Reply("150 Ok to send data.");
            received = Peer::ReceiveAll(*data);
            p.Reply("226 Transfer complete.");
        });
        Session s(server.port());
        s.ftp.DataMode = c.mode;
        // Far above the test's pace: reaching it would show as the other status.
        s.ftp.PassiveFallbackTimeout = 3000;
        s.ftp.OpenSession(true);
        const std::size_t before = s.rec.events.size();
        if (fallback) {
            EXPECT_EQ(ErrorOf([&] { s.ftp.StoreFile(local, "a.cab"); }), "<no error>");
            const auto events = Tail(s.rec.events, before);
            ASSERT_GE(events.size(), 3u);
            EXPECT_EQ(events[1], "ftpActiveConnectFailed The server could not connect (" + std::to_string(code) +
                                     "); switching to passive mode");
            EXPECT_EQ(events[2], "OnWorkBegin wmWrite 5000");
        } else {
            EXPECT_EQ(ReplyCodeOf([&] { s.ftp.StoreFile(local, "a.cab"); }), code);
            EXPECT_FALSE(s.ftp.StoreStarted()) << "no data connection, no file";
            EXPECT_EQ(Tail(s.rec.events, before),
                      (std::vector<std::string>{"ftpTransfer Starting FTP transfer", "ftpReady Transfer complete"}));
        }
        s.ftp.CloseSession();
        const auto commands = server.Finish();
        ASSERT_GE(commands.size(), 6u);
        EXPECT_EQ(std::vector<std::string>(commands.begin() + 5, commands.end()),
                  fallback ? (std::vector<std::string>{"STOR a.cab", "EPSV", "STOR a.cab", "QUIT"})
                           : (std::vector<std::string>{"STOR a.cab", "QUIT"}));
        EXPECT_EQ(received, fallback ? content : "");
    }
}

TEST(FtpActive, OnlyTheServerMayConnectBack)
{
    qv::test::ScratchDir dir;
    const std::string content = qvtest::Pattern(2000, 11);
    const std::string local = qvtest::WriteFile(dir.path(), "a.cab", content);
    std::string received;
    bool intruderRefused = false;
    ScriptedServer server([&](Peer &p) {
        p.Login();
        p.AcceptStore();
        const std::string port = p.commands[4].substr(5);
        unsigned h1, h2, h3, h4, p1, p2;
        std::sscanf(port.c_str(), "%u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2);
        // Another host of the network finds the port first (a loopback
        // address of its own stands for it).
        auto intruder = qv::net::Socket::CreateTcp();
        intruder.Bind("127.0.0.2", 0);
        intruder.Connect("127.0.0.1", int(p1 * 256 + p2));
        char buf[16];
        try {
            intruderRefused = intruder.Receive(buf, sizeof buf, 5000).value_or(1) == 0;
        } catch (const qv::net::ESocketError &) {
            intruderRefused = true;  // reset
        }
        auto data = p.ConnectBack();
        received = Peer::ReceiveAll(data);
        p.Reply("226 Stored");
    });
    Session s(server.port());
    s.ftp.OpenSession(true);
    s.ftp.StoreFile(local, "a.cab");
    s.ftp.CloseSession();
    server.Finish();
    EXPECT_TRUE(intruderRefused);
    EXPECT_EQ(received, content);
}

TEST(FtpTls, RequiredNeverSendsThePasswordInClear)
{
    for (const char *answer : {"500 AUTH not understood", "534 Request denied for policy reasons"}) {
        ScriptedServer server([&](Peer &p) {
            p.Reply("220 ready");
            p.Expect("AUTH TLS");
            p.Reply(answer);
        });
        Session s(server.port());
        s.ftp.UseTLS = qv::tlsRequired;
        s.ftp.TlsLibrary = true;  // the server's refusal comes before any TLS is needed
        EXPECT_EQ(ErrorOf([&] { s.ftp.OpenSession(true); }),
                  "The server does not offer TLS; the password was not sent.");
        EXPECT_EQ(s.rec.events, Join(kConnect, Closing()));
        EXPECT_EQ(server.Finish(), std::vector<std::string>{"AUTH TLS"});
    }
}
