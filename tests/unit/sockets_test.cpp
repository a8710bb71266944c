// The socket layer against a peer on 127.0.0.1 that the test controls: natively and, in the
// Windows build, through Winsock under Wine.

#include "platform/platform.h"

#include "tests/support/loopback_listener.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>

namespace {

constexpr int kWaitMs = 10000;

class SocketsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(platform::StartSockets(), platform::SocketStartup::Ok); }
    void TearDown() override { platform::StopSockets(); }

    // A socket connected to the listener, with the listener's side of it in `accepted`.
    platform::Socket Connect(LoopbackListener& listener, std::intptr_t& accepted,
                             int timeoutMs = kWaitMs) {
        std::uint32_t address = 0;
        EXPECT_TRUE(platform::ResolveHost("127.0.0.1", address));
        platform::Socket socket = platform::OpenTcpSocket();
        EXPECT_NE(socket, platform::kInvalidSocket);
        EXPECT_TRUE(platform::ConnectTo(socket, address, listener.port(), timeoutMs));
        accepted = listener.Accept(kWaitMs);
        EXPECT_NE(accepted, -1);
        return socket;
    }
};

TEST_F(SocketsTest, DottedAddressResolvesToItsOwnBytes) {
    std::uint32_t address = 0;
    ASSERT_TRUE(platform::ResolveHost("127.0.0.1", address));
    unsigned char bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    EXPECT_EQ(bytes[0], 127);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[3], 1);
}

TEST_F(SocketsTest, BytesTravelBothWaysAndAPeerThatClosesReadsAsZero) {
    LoopbackListener listener;
    ASSERT_TRUE(listener.listening());
    std::intptr_t peer = -1;
    platform::Socket socket = Connect(listener, peer);
    ASSERT_NE(peer, -1);

    const char request[] = "GET / HTTP/1.1\r\n\r\n";
    EXPECT_EQ(platform::SendSome(socket, request, sizeof request - 1),
              static_cast<long>(sizeof request - 1));
    EXPECT_EQ(listener.Receive(peer, sizeof request - 1, kWaitMs), request);

    ASSERT_TRUE(listener.Send(peer, "hello"));
    listener.Close(peer);
    std::string got;
    char buffer[16];
    long n;
    while ((n = platform::ReceiveSome(socket, buffer, sizeof buffer)) > 0)
        got.append(buffer, static_cast<std::size_t>(n));
    EXPECT_EQ(n, 0);
    EXPECT_EQ(got, "hello");
    platform::CloseSocket(socket);
}

TEST_F(SocketsTest, SilentPeerEndsAReceiveAtTheTimeOut) {
    LoopbackListener listener;
    ASSERT_TRUE(listener.listening());
    std::intptr_t peer = -1;
    platform::Socket socket = Connect(listener, peer);
    platform::SetReceiveTimeout(socket, 200);
    char byte;
    EXPECT_EQ(platform::ReceiveSome(socket, &byte, 1), -1);
    EXPECT_NE(platform::LastSocketError(), 0);
    platform::CloseSocket(socket);
    listener.Close(peer);
}

TEST_F(SocketsTest, ConnectToAPortNobodyListensOnFailsWithAnError) {
    int port;
    {
        LoopbackListener gone;
        ASSERT_TRUE(gone.listening());
        port = gone.port();
    }
    std::uint32_t address = 0;
    ASSERT_TRUE(platform::ResolveHost("127.0.0.1", address));
    for (int timeoutMs : {0, kWaitMs}) {
        platform::Socket socket = platform::OpenTcpSocket();
        ASSERT_NE(socket, platform::kInvalidSocket);
        EXPECT_FALSE(platform::ConnectTo(socket, address, port, timeoutMs)) << timeoutMs;
        EXPECT_NE(platform::LastSocketError(), 0);
        platform::CloseSocket(socket);
    }
}

TEST_F(SocketsTest, ConnectThatIsNeverAnsweredGivesUpAtTheTimeOut) {
    // A listener whose queue is full: the system drops further connection requests unanswered
    // (or, on some systems, refuses them). Either way the connect must end.
    LoopbackListener listener(0);
    ASSERT_TRUE(listener.listening());
    std::uint32_t address = 0;
    ASSERT_TRUE(platform::ResolveHost("127.0.0.1", address));
    std::vector<platform::Socket> queued;
    for (int i = 0; i < 2; ++i) {
        platform::Socket socket = platform::OpenTcpSocket();
        ASSERT_NE(socket, platform::kInvalidSocket);
        platform::ConnectTo(socket, address, listener.port(), 300);
        queued.push_back(socket);
    }
    platform::Socket socket = platform::OpenTcpSocket();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(platform::ConnectTo(socket, address, listener.port(), 300));
    // Far above the time-out, far below the system's own minutes of retrying.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_NE(platform::LastSocketError(), 0);
    platform::CloseSocket(socket);
    for (platform::Socket s : queued)
        platform::CloseSocket(s);
}

} // namespace
