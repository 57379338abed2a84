#pragma once
// A LAN client of plain POSIX calls, none of the console's own: the bytes it is given, and exactly what comes back.
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <functional>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace brimlow::test {

// Polls cond every few milliseconds for up to timeoutMs.
inline bool WaitFor(const std::function<bool()>& cond, int timeoutMs = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return cond();
}

class RawClient {
public:
    // Connects to the loopback port and, unless told otherwise, reads the greeting line.
    explicit RawClient(int port, bool readGreeting = true) : m_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in to{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
        int yes = 1; // every Send leaves as a segment of its own, so split frames arrive split
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
            Reset();
        for (std::string line, byte = "-"; readGreeting && !byte.empty() && !line.ends_with("\r\n");)
            line += byte = Recv(1);
    }
    ~RawClient() {
        if (m_fd >= 0)
            close(m_fd);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;
    int Fd() const { return m_fd; }
    void Send(const std::string& bytes) {
        for (ssize_t done = 0, n = 0; m_fd >= 0 && n >= 0 && done < std::ssize(bytes); done += n)
            n = send(m_fd, bytes.data() + done, bytes.size() - static_cast<size_t>(done), MSG_NOSIGNAL);
    }
    // Exactly size bytes, or fewer when the connection closed or timeoutMs passed.
    std::string Recv(size_t size, int timeoutMs = 10000) {
        using namespace std::chrono;
        std::string bytes;
        pollfd p{m_fd, POLLIN, 0};
        for (auto deadline = steady_clock::now() + milliseconds(timeoutMs); bytes.size() < size && !m_closed;) {
            auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
            if (m_fd < 0 || left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
                break;
            char buffer[20000];
            ssize_t n = recv(m_fd, buffer, std::min(sizeof buffer, size - bytes.size()), 0);
            m_reset = m_reset || (n < 0 && errno == ECONNRESET);
            m_closed = n <= 0;
            bytes.append(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
        }
        return bytes;
    }
    std::string Request(const std::string& frame, size_t replySize) {
        Send(frame);
        return Recv(replySize);
    }
    // True when the server closed the connection within timeoutMs; SawReset tells whether by a reset.
    bool WaitClosed(int timeoutMs = 10000) {
        Recv(SIZE_MAX, timeoutMs);
        return m_closed;
    }
    bool SawReset() const { return m_reset; }
    // Closes with a reset, as the socket of a process that dies does.
    void Reset() {
        linger lg{1, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
    bool m_closed = false;
    bool m_reset = false;
};

} // namespace brimlow::test
