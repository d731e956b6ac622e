// The socket layer's error texts and numbering, and its time limits.
#include "platform/sockets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

using namespace qv::net;

TEST(SocketErrors, TextsFollowTheFixedTable)
{
    EXPECT_STREQ(ESocketError(10061).what(), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_STREQ(ESocketError(10004).what(), "Socket Error # 10004\r\nInterrupted system call.");
    EXPECT_STREQ(ESocketError(10035).what(), "Socket Error # 10035\r\nOperation would block. ");
    EXPECT_STREQ(ESocketError(10066).what(), "Socket Error # 10066\r\nDirectory not empty");
    // Name-service failures are not in the table: the description stays empty.
    EXPECT_STREQ(ESocketError(11001).what(), "Socket Error # 11001\r\n");
    EXPECT_EQ(ESocketError(10048).code(), 10048);
    int described = 0;
    for (int code = 10000; code < 10100; ++code)
        described += !SocketErrorDescription(code).empty();
    EXPECT_EQ(described, 38);
}

#ifndef _WIN32
TEST(SocketErrors, SystemNumbersAreMappedToTheTableNumbering)
{
    EXPECT_EQ(SocketErrorFromNative(ECONNREFUSED), 10061);
    EXPECT_EQ(SocketErrorFromNative(EADDRINUSE), 10048);
    EXPECT_EQ(SocketErrorFromNative(ETIMEDOUT), 10060);
    EXPECT_EQ(SocketErrorFromNative(ECONNRESET), 10054);
    EXPECT_EQ(SocketErrorFromNative(EPIPE), 10054);
    EXPECT_EQ(SocketErrorFromNative(EWOULDBLOCK), 10035);
    EXPECT_EQ(SocketErrorFromNative(ENOTEMPTY), 10066);
    EXPECT_EQ(SocketErrorFromNative(EINTR), 10004);
}
#endif

TEST(SocketAddresses, DottedIPv4IsRecognised)
{
    EXPECT_TRUE(IsDottedIPv4("127.0.0.1"));
    EXPECT_TRUE(IsDottedIPv4("255.255.255.255"));
    EXPECT_TRUE(IsDottedIPv4("0.0.0.0"));
    EXPECT_FALSE(IsDottedIPv4("256.0.0.1"));
    EXPECT_FALSE(IsDottedIPv4("1.2.3"));
    EXPECT_FALSE(IsDottedIPv4("1.2.3.4."));
    EXPECT_FALSE(IsDottedIPv4("1..3.4"));
    EXPECT_FALSE(IsDottedIPv4("1.2.3.4.5"));
    EXPECT_FALSE(IsDottedIPv4("localhost"));
    EXPECT_FALSE(IsDottedIPv4(" 1.2.3.4"));
    EXPECT_FALSE(IsDottedIPv4(""));
}

TEST(SocketWaits, AcceptAndReceiveGiveUpAtTheirTimeLimit)
{
    auto listener = Socket::CreateTcp();
    listener.Bind("127.0.0.1", 0);
    listener.Listen(1);
    EXPECT_EQ(listener.LocalAddress(), "127.0.0.1");
    EXPECT_FALSE(listener.Accept(100).has_value());

    auto client = Socket::CreateTcp();
    client.Connect("127.0.0.1", listener.LocalPort());
    auto server = listener.Accept(1000);
    ASSERT_TRUE(server.has_value());
    char buf[16];
    EXPECT_FALSE(client.Receive(buf, sizeof buf, 100).has_value());

    ASSERT_EQ(server->Send("hello", 5).value_or(0), 5u);
    auto got = client.Receive(buf, sizeof buf, 1000);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(std::string(buf, *got), "hello");
    server->Close();
    EXPECT_EQ(client.Receive(buf, sizeof buf, 1000).value_or(99), 0u);  // orderly end
}

TEST(SocketAddresses, IPv6AddressesAndWhatAHostResolvesTo)
{
    for (const char *text : {"::1", "2001:db8::5", "fe80::1%1", "::ffff:10.0.0.1"})
        EXPECT_TRUE(IsIPv6Address(text)) << text;
    for (const char *text : {"[::1]", "127.0.0.1", "localhost", ":::", "1:2:3:4:5:6:7:8:9", "", "::1 "})
        EXPECT_FALSE(IsIPv6Address(text)) << text;
    EXPECT_EQ(FamilyOf("::1"), Family::IPv6);
    EXPECT_EQ(FamilyOf("10.0.0.1"), Family::IPv4);
    // Numeric addresses are taken as they are; brackets come off.
    using List = std::vector<std::string>;
    EXPECT_EQ(ResolveAll("::1"), List{"::1"});
    EXPECT_EQ(ResolveAll("[::1]"), List{"::1"});
    EXPECT_EQ(ResolveAll("10.1.2.3"), List{"10.1.2.3"});
    // Every address of a name, IPv4 first, as before; ::1 only where the
    // system's hosts file names it.
    const List local = ResolveAll("localhost");
    ASSERT_FALSE(local.empty());
    EXPECT_EQ(local.front(), "127.0.0.1");
    EXPECT_TRUE(std::is_partitioned(local.begin(), local.end(),
                                    [](const std::string &a) { return FamilyOf(a) == Family::IPv4; }));
    EXPECT_EQ(std::count(local.begin(), local.end(), "127.0.0.1"), 1);
    EXPECT_THROW(ResolveAll("no-such-host.invalid"), ESocketError);
}

TEST(SocketWaits, NonBlockingConnectionOverIPv6ReportsBothEnds)
{
    auto listener = Socket::CreateTcp(Family::IPv6);
    listener.Bind("::1", 0);
    listener.Listen(1);
    listener.SetNonBlocking(true);
    EXPECT_FALSE(listener.Accept(0).has_value());  // nothing pending: no wait, no error

    auto client = Socket::CreateTcp(Family::IPv6);
    if (!client.StartConnect("::1", listener.LocalPort())) {
        ASSERT_TRUE(client.Poll(true, 5000));
    }
    client.FinishConnect();
    ASSERT_TRUE(listener.Poll(false, 5000));
    auto server = listener.Accept(0);
    ASSERT_TRUE(server.has_value());
    EXPECT_EQ(client.PeerAddress(), "::1");
    EXPECT_EQ(client.PeerPort(), listener.LocalPort());
    EXPECT_EQ(server->PeerPort(), client.LocalPort());

    char buf[8];
    EXPECT_FALSE(client.Receive(buf, sizeof buf, 0).has_value());  // non-blocking: nothing yet
    server->ShutdownSend();
    ASSERT_TRUE(client.Poll(false, 5000));
    EXPECT_EQ(client.Receive(buf, sizeof buf, 0).value_or(99), 0u);

    // A refused attempt is reported when it completes, with its number.
    const int port = listener.LocalPort();
    listener.Close();
    auto refused = Socket::CreateTcp(Family::IPv6);
    try {
        if (!refused.StartConnect("::1", port)) {
            ASSERT_TRUE(refused.Poll(true, 5000));
            refused.FinishConnect();
        }
        ADD_FAILURE() << "connected to a closed port";
    } catch (const ESocketError &e) {
        EXPECT_EQ(e.code(), 10061);
    }
}

// Against a server on this machine, through the system's own calls (Winsock
// on Windows): the numbers and texts the user would read.
TEST(SocketErrors, LocalServerRefusalAndTakenPortGiveWinsockNumbersAndTexts)
{
    int port = 0;
    {
        auto probe = Socket::CreateTcp();
        probe.Bind("127.0.0.1", 0);
        port = probe.LocalPort();
    }  // closed: nothing listens there now
    auto client = Socket::CreateTcp();
    try {
        client.Connect("127.0.0.1", port, 5000);
        FAIL() << "connected to a closed port";
    } catch (const ESocketError &e) {
        EXPECT_EQ(e.code(), 10061);
        EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
    }

    auto server = Socket::CreateTcp();
    server.Bind("127.0.0.1", 0);
    server.Listen(1);
    auto second = Socket::CreateTcp();
    try {
        second.Bind("127.0.0.1", server.LocalPort());
        FAIL() << "bound a port that is taken";
    } catch (const ESocketError &e) {
        EXPECT_EQ(e.code(), 10048);
        EXPECT_STREQ(e.what(), "Socket Error # 10048\r\nAddress already in use.");
    }

    // A connection that works: bytes both ways, then the peer's orderly end.
    auto peer = Socket::CreateTcp();
    peer.Connect("127.0.0.1", server.LocalPort(), 5000);
    auto accepted = server.Accept(5000);
    ASSERT_TRUE(accepted.has_value());
    EXPECT_EQ(accepted->PeerPort(), peer.LocalPort());
    ASSERT_EQ(peer.Send("220 ok\r\n", 8), std::optional<std::size_t>(8));
    char buf[16] = {};
    ASSERT_EQ(accepted->Receive(buf, sizeof buf, 5000), std::optional<std::size_t>(8));
    EXPECT_STREQ(buf, "220 ok\r\n");
    peer.ShutdownSend();
    EXPECT_EQ(accepted->Receive(buf, sizeof buf, 5000), std::optional<std::size_t>(0));
}
