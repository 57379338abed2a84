#include "tests/support/line_peer.h"
#include "transports/socket_lines.h"
#include "transports/trace.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace brimlow {
namespace {

using namespace std::chrono;

// Two connected stream sockets; the near end carries a short receive time-out so that repeats are quick.
class SocketPair : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, m_fds), 0);
        timeval tv{0, 50000};
        setsockopt(Near(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    void TearDown() override {
        close(m_fds[0]);
        if (m_fds[1] >= 0)
            close(m_fds[1]);
    }
    int Near() const { return m_fds[0]; }
    int Far() const { return m_fds[1]; }
    void FarSends(const std::string& bytes) {
        ASSERT_EQ(send(Far(), bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    }
    void CloseFar() {
        close(m_fds[1]);
        m_fds[1] = -1;
    }
    std::string FarReceives() {
        std::string bytes;
        char buffer[4096];
        timeval tv{0, 100000};
        setsockopt(Far(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ssize_t n;
        while ((n = recv(Far(), buffer, sizeof buffer, 0)) > 0)
            bytes.append(buffer, static_cast<size_t>(n));
        return bytes;
    }

private:
    int m_fds[2] = {-1, -1};
};

// One after another on the same connection: what a line returns can depend on what the one before left.
TEST_F(SocketPair, RecvLineTakesTheTextBeforeTheLineEndWithinItsMaximum) {
    const struct {
        std::string sent;
        int max, got;
        std::string line;
    } cases[] = {
        {"250 OK\r\n", 200, 8, "250 OK"},
        {"25\b0 OK\r\n", 200, 7, "20 OK"},     // a backspace removes the last byte,
        {"\b\b\b221 Bye\r\n", 200, 9, "221 Bye"}, // but never below empty
        {"0123456789", 5, 5, "01234"},          // the maximum ends the line
        {"ab\ncd\r\n", 200, 12, "56789ab"},     // "56789" was still waiting; the line is cut at the first end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.sent));
        FarSends(c.sent);
        std::string line;
        EXPECT_EQ(RecvLine(Near(), line, c.max), c.got);
        EXPECT_EQ(line, c.line);
    }
}

TEST_F(SocketPair, RecvLineRepeatsTimedOutReceivesUntilTheLineIsComplete) {
    std::thread late([this] {
        FarSends("25");
        std::this_thread::sleep_for(milliseconds(300)); // several receive time-outs of the near end
        FarSends("0 OK\r\n");
    });
    std::string line;
    EXPECT_EQ(RecvLine(Near(), line, 200), 8);
    EXPECT_EQ(line, "250 OK");
    late.join();
}

TEST_F(SocketPair, RecvLineFailsEmptyOnAClosedConnection) {
    FarSends("250 par");
    CloseFar();
    std::string line = "stale";
    EXPECT_EQ(RecvLine(Near(), line, 200), -1);
    EXPECT_EQ(line, "");
}

TEST_F(SocketPair, RecvExactAndRecvSomeRepeatTimeOutsWithinTheirLimit) {
    char buffer[16] = {};
    std::thread late([this] {
        std::this_thread::sleep_for(milliseconds(120)); // past two receive time-outs
        FarSends("abcdef");
    });
    EXPECT_EQ(RecvExact(Near(), buffer, 4, true, 5000), 4u);
    late.join();
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_EQ(RecvSome(Near(), buffer, sizeof buffer, true, 5000), 2u); // what one receive returns
    EXPECT_EQ(std::string(buffer, 2), "ef");

    // Without repeats one time-out ends the wait; with a limit the silence ends it after the limit.
    EXPECT_EQ(RecvExact(Near(), buffer, 4, false), 0u);
    auto start = steady_clock::now();
    EXPECT_EQ(RecvSome(Near(), buffer, 4, true, 300), 0u);
    EXPECT_EQ(RecvExact(Near(), buffer, 4, true, 300), 0u);
    auto waited = duration_cast<milliseconds>(steady_clock::now() - start).count();
    EXPECT_GE(waited, 600);
    EXPECT_LT(waited, 5000);

    FarSends("xy");
    CloseFar();
    EXPECT_EQ(RecvExact(Near(), buffer, 4, true), 2u); // a close ends it with what came
    EXPECT_EQ(RecvSome(Near(), buffer, 4, true), 0u);
}

TEST_F(SocketPair, RecvLineOverallLimitEndsTheWaitOnASilentPeer) {
    auto start = steady_clock::now();
    std::string line;
    EXPECT_EQ(RecvLine(Near(), line, 200, 300), -1);
    auto waited = duration_cast<milliseconds>(steady_clock::now() - start).count();
    EXPECT_GE(waited, 300);
    EXPECT_LT(waited, 3000);
    EXPECT_EQ(line, "");
}

// A CR goes before every bare LF, and no more than 2,000 bytes go out (an inserted CR can be the last of them);
// on a closed connection the send fails.
TEST_F(SocketPair, SendTextInsertsCrBeforeEveryBareLfAndStopsAt2000Bytes) {
    const std::string b(1999, 'b');
    const std::pair<std::string, std::string> cases[] = {{"a\nb\r\nc", "a\r\nb\r\nc"},
                                                         {"\nx\n", "\r\nx\r\n"},
                                                         {std::string(2500, 'a'), std::string(2000, 'a')},
                                                         {b + "\nc", b + "\r"}};
    for (const auto& [text, sent] : cases) {
        EXPECT_EQ(SendText(Near(), text), 0);
        EXPECT_EQ(FarReceives(), sent);
    }
    CloseFar();
    EXPECT_EQ(SendText(Near(), "QUIT\r\n"), -1);
}

TEST_F(SocketPair, PeekByteLooksWithoutTakingAndRecvByteTimedTakesOrFailsOnClose) {
    EXPECT_EQ(PeekByte(Near()), 0); // nothing within the receive time-out
    auto start = steady_clock::now();
    EXPECT_EQ(RecvByteTimed(Near(), 0), 0); // zero seconds: at once
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - start).count(), 500);
    FarSends("Z\x7f");
    EXPECT_EQ(PeekByte(Near()), 'Z');
    EXPECT_EQ(PeekByte(Near()), 'Z');
    EXPECT_EQ(RecvByteTimed(Near(), 1), 'Z');
    EXPECT_EQ(RecvByteTimed(Near(), 0), 0x7f);
    CloseFar();
    EXPECT_EQ(RecvByteTimed(Near(), 1), -1);
}

TEST_F(SocketPair, RecvLineTimedTakesOneLineAndCutsAtTheFirstLineEnd) {
    FarSends(std::string("889 ab\0c\r\n259 End\r\n", 19));
    std::string line;
    EXPECT_EQ(RecvLineTimed(Near(), line, 2000), 9); // the NUL byte is dropped
    EXPECT_EQ(line, "889 abc");
    EXPECT_EQ(RecvLineTimed(Near(), line, 2000), 9);
    EXPECT_EQ(line, "259 End");

    FarSends("860 one\nrest\r\n");
    EXPECT_EQ(RecvLineTimed(Near(), line, 2000), 14);
    EXPECT_EQ(line, "860 one");
}

TEST_F(SocketPair, RecvLineTimedEndsAfterThreeSilentSeconds) {
    FarSends("860 partial");
    auto start = steady_clock::now();
    std::string line;
    EXPECT_EQ(RecvLineTimed(Near(), line, 2000), 11);
    EXPECT_EQ(line, "860 partial");
    auto waited = duration_cast<milliseconds>(steady_clock::now() - start).count();
    EXPECT_GE(waited, 2900);
    EXPECT_LT(waited, 10000);
}

TEST(ReplyCodes, OnlyFiveHundredsAreRefusals) {
    struct Case {
        const char* line;
        int code;
        bool ok;
    };
    const Case cases[] = {{"250 OK", 250, true},   {"421 Busy", 421, true}, {"500 Bad", 500, false},
                          {"599", 599, false},     {"600 x", 600, true},    {"", 0, true},
                          {"55", 0, true},         {"5x0 odd", 0, true},    {"259 End of list", 259, true},
                          {"554 Refused", 554, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(ReplyCode(c.line), c.code) << c.line;
        EXPECT_EQ(ReplyOk(c.line), c.ok) << c.line;
    }
}

TEST(ConnectTcp, DigitsAndDotsAreNeverLookedUpByName) {
    // A resolver takes "1234" for 0.0.4.210; the console takes it for no address at all.
    EXPECT_EQ(ConnectTcp("1234", 444).error, ConnectError::Resolve);
    EXPECT_EQ(ConnectTcp("255.255.255.255", 444).error, ConnectError::Resolve);
    EXPECT_EQ(ConnectTcp("10.0.0.300", 444).error, ConnectError::Resolve);
}

TEST(ConnectTcp, ConnectsByAddressAndByNameAndReportsRefusal) {
    test::LinePeer peer([](test::PeerSession& session) { session.SendLine("220 ready"); });
    for (const char* address : {"127.0.0.1", "localhost"}) {
        ConnectResult result = ConnectTcp(address, peer.Port());
        ASSERT_EQ(result.error, ConnectError::None) << address;
        std::string line;
        EXPECT_EQ(RecvLine(result.sock, line, 200), 11);
        EXPECT_EQ(line, "220 ready");
        CloseSocket(result.sock);
    }
    EXPECT_EQ(ConnectTcp("127.0.0.1", test::UnusedPort()).error, ConnectError::Connect);
}

TEST(Trace, EscapesControlBytes) {
    EXPECT_EQ(EscapeControlBytes(std::string("PAGE 1\r\n\x01\\\xff", 11)), "PAGE 1\\r\\n\\x01\\\\\\xFF");
}

} // namespace
} // namespace brimlow
