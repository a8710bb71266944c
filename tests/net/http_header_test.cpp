#include "net/deal_socket.h"
#include "net/http_header.h"
#include "tests/net/engine_fixture.h"
#include "tests/support/child_process.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(ParseResponseHeadTest, StatusLengthAndRange) {
    ResponseHead head = ParseResponseHead("HTTP/1.1 206 Partial Content\r\n"
                                          "content-length: 4294967296\r\n"
                                          "Content-Range: bytes 1000-4294968295/4294968296\r\n"
                                          "\r\n");
    EXPECT_EQ(head.status, 206);
    EXPECT_TRUE(head.hasContentLength);
    EXPECT_EQ(head.contentLength, 4294967296LL);
    EXPECT_EQ(head.rangeStart, 1000);
    EXPECT_EQ(head.rangeEnd, 4294968295LL);
    EXPECT_EQ(head.completeLength, 4294968296LL);
    EXPECT_TRUE(head.keepsConnection);

    head = ParseResponseHead("HTTP/1.0 404 Gone\r\n\r\n");
    EXPECT_EQ(head.status, 404);
    EXPECT_FALSE(head.hasContentLength);
    EXPECT_EQ(head.rangeStart, -1);
    EXPECT_EQ(head.rangeEnd, -1);
    EXPECT_FALSE(head.keepsConnection) << "HTTP/1.0 closes";
    EXPECT_FALSE(ParseResponseHead("HTTP/1.1 200 OK\r\nconnection: Close\r\n\r\n").keepsConnection);
    EXPECT_TRUE(
        ParseResponseHead("HTTP/1.1 200 OK\r\nConnection: keep-alive\r\n\r\n").keepsConnection);

    head = ParseResponseHead("HTTP/1.1 416 Nope\r\nContent-Range: bytes */10\r\n"
                             "Content-Length: 0\r\n\r\n");
    EXPECT_EQ(head.rangeStart, -1);
    EXPECT_TRUE(head.hasContentLength);
    EXPECT_EQ(head.contentLength, 0);

    // A field that only ends in the name, or a length that is no number, names no length.
    head = ParseResponseHead("HTTP/1.1 200 OK\r\nX-Original-Content-Length: 7\r\n"
                             "Content-Length: -5\r\n\r\n");
    EXPECT_FALSE(head.hasContentLength);
    EXPECT_EQ(ParseResponseHead("garbage\r\n\r\n").status, 0);

    // The status is read from the status line only: a status line without one is no success,
    // whatever digits a later field carries.
    EXPECT_EQ(ParseResponseHead("HTTP/1.1\r\nServer: 200 OK\r\n\r\n").status, 0);
    EXPECT_EQ(ParseResponseHead("HTTP/1.1 20x OK\r\n\r\n").status, 0);

    head = ParseResponseHead("HTTP/1.1 200 OK\r\ncontent-encoding:  GZip \r\n"
                             "Transfer-Encoding: gzip, Chunked\r\n\r\n");
    EXPECT_EQ(head.contentEncoding, "gzip");
    EXPECT_TRUE(head.chunked);
    head = ParseResponseHead("HTTP/1.1 200 OK\r\nContent-Encoding: identity\r\n"
                             "X-Transfer-Encoding: chunked\r\n\r\n");
    EXPECT_EQ(head.contentEncoding, "");
    EXPECT_FALSE(head.chunked);
}

// A connected pair of sockets: the engine reads one end, the test writes the other.
class SocketPair : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
    void TearDown() override {
        for (int fd : fds_)
            if (fd >= 0)
                ::close(fd);
    }
    void Send(const std::string& bytes) {
        ASSERT_EQ(::write(fds_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void ClosePeer() {
        ::close(fds_[1]);
        fds_[1] = -1;
    }
    std::string Rest() {
        ClosePeer();
        std::string rest;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fds_[0], buffer, sizeof buffer)) > 0;)
            rest.append(buffer, n);
        return rest;
    }
    platform::Socket Engine() const { return fds_[0]; }

    int fds_[2] = {-1, -1};
    char header_[kHeaderBufferSize + 1];
};

TEST_F(SocketPair, HeaderEndsAtTheBlankLineAndLeavesTheBody) {
    Send("\r\n\r\nbody");
    EXPECT_EQ(GetHttpHeader(Engine(), header_), 4);
    EXPECT_STREQ(header_, "\r\n\r\n");
    EXPECT_EQ(Rest(), "body");
}

TEST_F(SocketPair, HeadOfExactlyTheBufferIsReadWhole) {
    std::string head =
        "HTTP/1.1 200 OK\r\nX: " + std::string(kHeaderBufferSize - 24, 'x') + "\r\n\r\n";
    ASSERT_EQ(head.size(), 16384u);
    Send(head + "B");
    EXPECT_EQ(GetHttpHeader(Engine(), header_), 16384);
    EXPECT_EQ(std::string(header_), head);
    EXPECT_EQ(Rest(), "B");
}

TEST_F(SocketPair, LongHeaderIsCutAtTheBuffer) {
    std::string bytes(20000, 'h');
    bytes[16384] = 'X';
    std::thread writer([&] { Send(bytes); });
    EXPECT_EQ(GetHttpHeader(Engine(), header_), 16384);
    writer.join();
    EXPECT_EQ(std::string(header_), bytes.substr(0, 16384));
    EXPECT_EQ(Rest(), bytes.substr(16384));
}

// Read at once (the lean transfer's heads): whole pieces of the head are taken, the blank line
// found across two of them, and the body left in the socket.
TEST_F(SocketPair, AtOnceTheHeadIsTakenWithoutTheBody) {
    const std::string head = "HTTP/1.1 206 Partial Content\r\nContent-Length: 4\r\n\r\n";
    Send(head.substr(0, head.size() - 1));
    int count = -1;
    std::thread reader([&] {
        count =
            GetHttpHeader(Engine(), header_, std::chrono::steady_clock::time_point::max(), true);
    });
    // The second piece goes once the reader has taken the first.
    int waiting = 1;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waiting > 0 && std::chrono::steady_clock::now() < limit) {
        ASSERT_EQ(::ioctl(fds_[0], FIONREAD, &waiting), 0);
        std::this_thread::yield();
    }
    EXPECT_EQ(waiting, 0);
    Send("\nbody");
    reader.join();
    EXPECT_EQ(count, static_cast<int>(head.size()));
    EXPECT_EQ(std::string(header_), head);
    EXPECT_EQ(Rest(), "body");
}

TEST_F(SocketPair, PeerThatClosesGivesWhatArrived) {
    ClosePeer();
    EXPECT_EQ(GetHttpHeader(Engine(), header_), 0);
    EXPECT_STREQ(header_, "");
}

TEST_F(SocketPair, SendToAClosedPeerFailsWithoutKillingTheProcess) {
    ClosePeer();
    // Large enough that the write itself meets the closed peer.
    EXPECT_FALSE(SendString(Engine(), std::string(1 << 20, 'x')));
    fds_[0] = -1; // SendString closed it
}

// A request that cannot go out names the line it was cut in, after the send's own line; the
// socket is closed by then.
TEST_F(SocketPair, RequestToAClosedPeerFailsOnItsFirstLine) {
    TempDir dir;
    ResetLogForTesting();
    SetLogPath(dir / "FeltoInstaller.log");
    ClosePeer();
    ResponseHead head;
    EXPECT_FALSE(SendHttpHeader(Engine(), "127.0.0.1", "http://127.0.0.1/", "f", 0, head));
    std::fflush(GetLogStream());
    std::string log = ReadFile(dir / "FeltoInstaller.log");
    ResetLogForTesting();
    SetLogPath("FeltoInstaller.log");
    EXPECT_TRUE(head.socketClosed);
    fds_[0] = -1;
    std::size_t failed = log.find("发送请求失败!");
    ASSERT_NE(failed, std::string::npos) << log;
    EXPECT_NE(log.find("GET error.", failed), std::string::npos) << log;
    EXPECT_EQ(CountOf(log, "Host error."), 0);
}

// A signal that arrives while a send waits for room makes the send return part of the text;
// the rest must still go out.
TEST_F(SocketPair, InterruptedSendGoesOnWithTheRest) {
    struct sigaction wake {
    }, saved{};
    wake.sa_handler = [](int) {};
    sigemptyset(&wake.sa_mask);
    wake.sa_flags = 0; // no restart: the blocked send returns what it has sent
    ASSERT_EQ(sigaction(SIGUSR1, &wake, &saved), 0);

    std::string text = MakeBytes(8 << 20, 3); // far more than the socket buffers hold
    bool ok = false;
    std::thread sender([&] {
        ok = SendString(Engine(), text);
        ::shutdown(fds_[0], SHUT_WR);
    });
    int queued = 0;
    bool sending =
        WaitUntil(10000, [&] { return ::ioctl(fds_[1], FIONREAD, &queued) == 0 && queued > 0; });
    EXPECT_TRUE(sending);
    pthread_kill(sender.native_handle(), SIGUSR1);
    std::string received;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fds_[1], buffer, sizeof buffer)) > 0;)
        received.append(buffer, n);
    sender.join();
    sigaction(SIGUSR1, &saved, nullptr);
    EXPECT_TRUE(ok);
    EXPECT_EQ(received.size(), text.size());
    EXPECT_TRUE(received == text);
}

class SendHttpHeaderTest : public EngineTest {
  protected:
    // Connects to the test server and runs one request for /dir/file.
    bool Request(std::int64_t rangeStart, ResponseHead& head) {
        platform::Socket socket = ConnectServer("127.0.0.1", server_.port());
        EXPECT_NE(socket, platform::kInvalidSocket);
        bool ok =
            SendHttpHeader(socket, "127.0.0.1", "http://127.0.0.1/dir/", "file", rangeStart, head);
        if (!head.socketClosed)
            platform::CloseSocket(socket);
        return ok;
    }
};

// Edges that keep to the HTTP rules refuse every range of an empty file; asked from 0 that
// means an empty file, asked from further on it stays a refusal.
TEST_F(SendHttpHeaderTest, UnsatisfiableRangeOfAnEmptyFileIsAnEmptyFile) {
    auto ask = [](const std::string& answer, std::int64_t from, ResponseHead& head) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        EXPECT_EQ(::write(fds[1], answer.data(), answer.size()),
                  static_cast<ssize_t>(answer.size()));
        bool ok = SendHttpHeader(fds[0], "127.0.0.1", "http://127.0.0.1/", "f", from, head);
        ::close(fds[0]);
        ::close(fds[1]);
        return ok;
    };
    const std::string refusal = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */0\r\n"
                                "Content-Length: 9\r\n\r\nnot here.";
    ResponseHead head;
    EXPECT_TRUE(ask(refusal, 0, head));
    EXPECT_TRUE(head.hasContentLength);
    EXPECT_EQ(head.contentLength, 0);
    EXPECT_EQ(head.completeLength, 0);

    EXPECT_FALSE(ask(refusal, 5, head));
    EXPECT_FALSE(
        ask("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */10\r\n\r\n", 0, head));
    EXPECT_EQ(CountOf(Log(), "HTTP status 416."), 2);
}

TEST_F(SendHttpHeaderTest, RequestGoesOutByteForByte) {
    server_.SetFile("/dir/file", MakeBytes(500000, 1));
    ResponseHead head;
    ASSERT_TRUE(Request(409601, head));
    EXPECT_EQ(head.status, 206);
    EXPECT_EQ(head.contentLength, 500000 - 409601);
    EXPECT_EQ(head.rangeStart, 409601);
    ASSERT_TRUE(Request(0, head));
    EXPECT_EQ(head.contentLength, 500000);
    std::vector<std::string> requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string common = "GET http://127.0.0.1/dir/file HTTP/1.1\r\n"
                               "Host: 127.0.0.1\r\n"
                               "Accept: \r\n"
                               "Referer: http://127.0.0.1/dir/\r\n"
                               "User-Agent: Mozilla/4.0 \t\t(compatible; MSIE 5.0; Windows NT; "
                               "DigExt; DTS Agent;)\r\n";
    EXPECT_EQ(requests[0], common + "Range: bytes=409601-\r\n\r\n");
    EXPECT_EQ(requests[1], common + "Range: bytes=0-\r\n\r\n");

    // A closed range differs in its Range line alone.
    platform::Socket socket = ConnectServer("127.0.0.1", server_.port());
    ASSERT_TRUE(SendRangeRequest(socket, "127.0.0.1", "http://127.0.0.1/dir/", "file", 409600,
                                 409609, head));
    platform::CloseSocket(socket);
    EXPECT_EQ(head.rangeStart, 409600);
    EXPECT_EQ(head.rangeEnd, 409609);
    EXPECT_EQ(head.contentLength, 10);
    ASSERT_EQ(server_.requests().size(), 3u);
    EXPECT_EQ(server_.requests()[2], common + "Range: bytes=409600-409609\r\n\r\n");
}

// A head sent line by line waits, line after line, for the server's delayed acknowledgement:
// on a real line that is a round trip per request. Sent as one piece it arrives as one.
TEST_F(SendHttpHeaderTest, HeadArrivesInOnePiece) {
    server_.SetFile("/dir/file", MakeBytes(1000, 2));
    ResponseHead head;
    for (std::int64_t start = 0; start < 1000; start += 100)
        ASSERT_TRUE(Request(start, head));
    EXPECT_EQ(server_.requestReads(), std::vector<int>(10, 1));
}

TEST_F(SendHttpHeaderTest, RangeStartsBeyond32Bits) {
    server_.SetFile("/dir/file", "short");
    ResponseHead head;
    EXPECT_FALSE(Request(5000000000LL, head)); // past the end: 416
    ASSERT_EQ(server_.requests().size(), 1u);
    EXPECT_NE(server_.requests()[0].find("\r\nRange: bytes=5000000000-\r\n"), std::string::npos);
    EXPECT_EQ(CountOf(Log(), "HTTP status 416."), 1);
}

TEST_F(SendHttpHeaderTest, ErrorAnswersAreRefusedWithTheirOwnLine) {
    ResponseHead head;
    EXPECT_FALSE(Request(0, head)); // no such file: "HTTP/1.1 404 Not Found"
    EXPECT_EQ(CountOf(Log(), "404 error."), 1);
    EXPECT_EQ(head.refusal, HeadRefusal::NotFound);

    server_.SetFile("/dir/file", "data");
    HttpFault fault;
    fault.status = 500;
    fault.times = 1;
    server_.AddFault(fault);
    EXPECT_FALSE(Request(0, head));
    EXPECT_EQ(CountOf(Log(), "HTTP status 500."), 1);
    EXPECT_EQ(head.refusal, HeadRefusal::BadStatus);

    fault.status = 404;
    fault.version = "HTTP/1.0";
    server_.AddFault(fault);
    EXPECT_FALSE(Request(0, head));
    EXPECT_EQ(CountOf(Log(), "HTTP status 404."), 1);
    EXPECT_EQ(CountOf(Log(), "404 error."), 1);
    EXPECT_EQ(head.refusal, HeadRefusal::NotFound);

    fault = HttpFault();
    fault.status = 302;
    fault.times = 1;
    server_.AddFault(fault);
    EXPECT_FALSE(Request(0, head));
    EXPECT_EQ(CountOf(Log(), "HTTP status 302."), 1);
    EXPECT_EQ(head.refusal, HeadRefusal::Redirected);

    EXPECT_TRUE(Request(0, head));
    EXPECT_EQ(head.contentLength, 4);
    EXPECT_EQ(head.refusal, HeadRefusal::None);
}

// CDNs and object stores add many fields; a head is read whole up to 16 KiB, and the body
// starts right after its blank line whatever its length.
TEST_F(SendHttpHeaderTest, HeadsUpTo16KiBAreReadAndLongerOnesRefused) {
    server_.SetFile("/dir/file", "data");
    for (std::size_t length :
         {std::size_t(1024), std::size_t(1025), std::size_t(4000), std::size_t(16384)}) {
        HttpFault fault;
        fault.headLength = length;
        fault.times = 1;
        server_.AddFault(fault);
        ResponseHead head;
        EXPECT_TRUE(Request(0, head)) << length;
        EXPECT_EQ(head.headBytes, static_cast<int>(length));
        EXPECT_EQ(head.contentLength, 4) << length;
    }
    HttpFault fault;
    fault.headLength = 16385;
    fault.times = 1;
    server_.AddFault(fault);
    ResponseHead head;
    EXPECT_FALSE(Request(0, head));
    EXPECT_EQ(CountOf(Log(), "HTTP header longer than 16384 bytes."), 1);
    EXPECT_EQ(head.refusal, HeadRefusal::HeadTooLong);
}

// What an edge made of the file is no file: refused at the head, with the cause named.
TEST_F(SendHttpHeaderTest, CompressedAndChunkedAnswersAreRefusedByName) {
    server_.SetFile("/dir/file", "data");
    HttpFault fault;
    fault.times = 1;
    fault.contentEncoding = "gzip";
    server_.AddFault(fault);
    ResponseHead head;
    EXPECT_FALSE(Request(0, head));
    EXPECT_EQ(head.contentEncoding, "gzip");
    EXPECT_EQ(head.refusal, HeadRefusal::Compressed);
    EXPECT_EQ(CountOf(Log(), "127.0.0.1 compressed the answer (Content-Encoding: gzip)"), 1);

    fault.contentEncoding = "Identity"; // the one encoding that leaves the bytes as they are
    server_.AddFault(fault);
    EXPECT_TRUE(Request(0, head));

    fault.contentEncoding.clear();
    fault.chunked = true;
    server_.AddFault(fault);
    EXPECT_FALSE(Request(0, head));
    EXPECT_TRUE(head.chunked);
    EXPECT_EQ(head.refusal, HeadRefusal::Chunked);
    EXPECT_EQ(CountOf(Log(), "127.0.0.1 sent the answer chunked (Transfer-Encoding: chunked) "
                             "without Content-Length: the size of the file is unknown."),
              1);
    EXPECT_TRUE(Request(0, head)); // an honest answer after them is taken
    EXPECT_EQ(head.contentLength, 4);
}

TEST_F(SendHttpHeaderTest, NoAnswerIsAFailedHeader) {
    server_.SetFile("/dir/file", "data");
    HttpFault fault;
    fault.closeBeforeHeader = true;
    server_.AddFault(fault);
    ResponseHead head;
    EXPECT_FALSE(Request(0, head));
    EXPECT_EQ(CountOf(Log(), "GetHttpHeader error"), 1);
    EXPECT_FALSE(head.socketClosed);
    EXPECT_EQ(head.refusal, HeadRefusal::NoHead);
}

// Every byte of the head comes well within the receive time-out, and yet the whole head takes
// longer than the engine waits for one.
TEST_F(SendHttpHeaderTest, TricklingHeadEndsAtItsDeadline) {
    SetReceiveTimeout(2000);
    SetSlowLimits(300, 30000, 1024);
    server_.SetFile("/dir/file", "data");
    HttpFault fault;
    fault.headDripDelayMs = 20; // about 100 bytes of head: two seconds
    fault.times = 1;
    server_.AddFault(fault);
    ResponseHead head;
    EXPECT_FALSE(Request(0, head));
    EXPECT_EQ(CountOf(Log(), "127.0.0.1 is too slow: the response head was not complete 300 ms "
                             "after the request."),
              1);
    EXPECT_EQ(CountOf(Log(), "GetHttpHeader error"), 0);
    EXPECT_EQ(head.refusal, HeadRefusal::TooSlow);

    // A slow head that is whole in time is taken, and the receive time-out is as it was.
    SetSlowLimits(5000, 30000, 1024);
    fault.headDripDelayMs = 1;
    server_.AddFault(fault);
    ASSERT_TRUE(Request(0, head));
    EXPECT_EQ(head.contentLength, 4);
}

TEST_F(SendHttpHeaderTest, SilentServerEndsAfterTheReceiveTimeout) {
    SetReceiveTimeout(200);
    server_.SetFile("/dir/file", "data");
    HttpFault fault;
    fault.stallBeforeHeader = true;
    server_.AddFault(fault);
    ResponseHead head;
    EXPECT_FALSE(Request(0, head));
    EXPECT_EQ(CountOf(Log(), "GetHttpHeader error"), 1);
}

} // namespace

namespace {

// A listener whose queue is full: further connection attempts get no answer at all.
TEST(ConnectServerTest, ConnectWithoutAnswerEndsAfterTheTimeout) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    int port = ntohs(address.sin_port);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) { // fills the queue, whatever its exact length
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(fd);
    }

    TempDir dir;
    ResetLogForTesting();
    SetLogPath(dir / "FeltoInstaller.log");
    EngineSettings saved = GetEngineSettings();
    EngineSettings quick = saved;
    quick.connectTimeoutMs = 300;
    OverrideEngineSettingsForTesting(quick);
    platform::Socket socket = ConnectServer("127.0.0.1", port);
    OverrideEngineSettingsForTesting(saved);
    std::fflush(GetLogStream());
    std::string log = ReadFile(dir / "FeltoInstaller.log");
    ResetLogForTesting();
    SetLogPath("FeltoInstaller.log");
    for (int fd : fillers)
        ::close(fd);
    ::close(listener);

    EXPECT_EQ(socket, platform::kInvalidSocket);
    EXPECT_EQ(CountOf(log, "Connecting to the server failed."), 1);
}

} // namespace
