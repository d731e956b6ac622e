// The socket layer's error texts and numbering, and its time limits.
#include "platform/sockets.h"

#include <gtest/gtest.h>

#include <cerrno>

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
