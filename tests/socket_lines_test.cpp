// The socket line routines over a socket pair whose near end times out every 50 ms, so that repeats are quick.
#include "transports/socket_lines.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace brimlow {
namespace {

using namespace std::chrono;

class SocketPair : public ::testing::Test {
protected:
    SocketPair() {
        socketpair(AF_UNIX, SOCK_STREAM, 0, m_fds);
        for (int fd : m_fds) {
            timeval tv{0, 50000};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        }
        reader = SocketReader(m_fds[0]);
    }
    ~SocketPair() override {
        close(m_fds[0]);
        CloseFar();
    }
    void FarSends(const std::string& bytes) {
        ASSERT_EQ(send(m_fds[1], bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
    }
    void CloseFar() { close(std::exchange(m_fds[1], -1)); }

    SocketReader reader;

private:
    int m_fds[2] = {-1, -1};
};

// One read after another: each takes its part and leaves the rest (binary reads after lines are the LAN tests').
TEST_F(SocketPair, ReadsTakeTheirPartAndLeaveTheRestForTheNextRead) {
    enum Op { Line, Reply, Timed };
    const std::string longReply = "550 " + std::string(300, 'x');
    const std::string crAtLimit = "250 " + std::string(195, 'y');
    const struct {
        std::string sent;
        Op op;
        size_t size;
        int got;
        std::string text;
    } cases[] = {
        {"250 OK\r\n", Line, 200, 8, "250 OK"},
        {"25\b0 OK\r\n", Line, 200, 7, "20 OK"},        // a backspace removes the last byte,
        {"\b\b\b221 Bye\r\n", Line, 200, 9, "221 Bye"}, // but never below empty
        {"0123456789", Line, 5, 5, "01234"},            // the maximum ends the line
        {"ab\ncd\r\n", Line, 200, 12, "56789ab"},       // "56789" was still waiting; the line is cut at the first end
        {longReply + "\r\n250 after\r\n", Reply, 200, 1, longReply.substr(0, 200)}, // the rest of a long line goes
        {"", Reply, 200, 1, "250 after"},
        {crAtLimit + "\r\n251 next\r\n", Reply, 200, 1, crAtLimit}, // the CR is the 200th byte
        {"", Reply, 200, 1, "251 next"},
        {std::string("889 ab\0c\r\n259 End\r\n", 19), Timed, 2000, 9, "889 abc"}, // the NUL byte is dropped
        {"", Timed, 2000, 9, "259 End"},
        {"860 one\nrest\r\n", Timed, 2000, 14, "860 one"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.sent) + " then " + c.text);
        FarSends(c.sent);
        std::string text(c.size, '\0');
        std::vector<std::string> lines;
        if (c.op == Line) {
            EXPECT_EQ(reader.RecvLine(text, c.size, 1000), c.got);
        } else if (c.op == Timed) {
            EXPECT_EQ(reader.RecvLineTimed(text, c.size), c.got);
        } else {
            EXPECT_EQ(reader.RecvReply(lines, c.size, 1000), c.got == 1);
            ASSERT_EQ(lines.size(), 1u);
            text = lines[0];
        }
        EXPECT_EQ(text, c.text);
    }
}

// A reply split over packets is read whole; three silent seconds end a status line; a close ends any read.
TEST_F(SocketPair, SilenceAndACloseEndReadsOnlyWhereTheyShould) {
    std::thread late([this] {
        FarSends("220-mail\r\n22");
        std::this_thread::sleep_for(milliseconds(300)); // several receive time-outs of the near end
        FarSends("0 ready\r\n860 partial");
    });
    std::vector<std::string> lines;
    EXPECT_TRUE(reader.RecvReply(lines, 200, 5000));
    late.join();
    EXPECT_EQ(lines, (std::vector<std::string>{"220-mail", "220 ready"}));
    std::string line;
    auto start = steady_clock::now();
    EXPECT_EQ(reader.RecvLineTimed(line, 2000), 11);
    EXPECT_EQ(line, "860 partial");
    EXPECT_GE(steady_clock::now() - start, milliseconds(2900));

    FarSends("220-mail\r\n250 par");
    CloseFar();
    EXPECT_FALSE(reader.RecvReply(lines, 200, 0));
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(reader.RecvLine(line, 200), -1);
    EXPECT_EQ(line, "");
}

} // namespace
} // namespace brimlow
