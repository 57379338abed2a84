#pragma once
// A LAN client for server tests that speaks frames with plain POSIX calls and nothing of the console's own
// client: it sends the bytes it is given and reads exactly what the test expects back.
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <functional>
#include <netinet/in.h>
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
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class RawClient {
public:
    // Connects to the loopback port and, unless told otherwise, reads the greeting line.
    explicit RawClient(int port, bool readGreeting = true) : m_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
            Close();
        int yes = 1; // every Send leaves as a segment of its own, so split frames arrive split
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        while (readGreeting && m_greeting.size() < 200 && !m_greeting.ends_with("\r\n")) {
            std::string byte = Recv(1);
            if (byte.empty())
                break;
            m_greeting += byte;
        }
    }
    ~RawClient() { Close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return m_fd >= 0; }
    const std::string& Greeting() const { return m_greeting; }

    bool Send(const std::string& bytes) {
        for (size_t done = 0; done < bytes.size();) {
            ssize_t n = m_fd < 0 ? -1 : send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return m_fd >= 0;
    }

    // Exactly size bytes, or fewer when the connection closed or timeoutMs passed.
    std::string Recv(size_t size, int timeoutMs = 10000) {
        std::string bytes;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buffer[20000];
        while (bytes.size() < size && WaitReadable(deadline)) {
            ssize_t n = recv(m_fd, buffer, std::min(sizeof buffer, size - bytes.size()), 0);
            m_reset = m_reset || (n < 0 && errno == ECONNRESET);
            if (n <= 0)
                break;
            bytes.append(buffer, static_cast<size_t>(n));
        }
        return bytes;
    }
    std::string Request(const std::string& frame, size_t replySize) {
        Send(frame);
        return Recv(replySize);
    }
    // Everything that arrives within ms (a reply that should not come).
    std::string RecvFor(int ms) { return Recv(100000, ms); }

    // True when the server closed the connection within timeoutMs; SawReset tells whether by a reset.
    bool WaitClosed(int timeoutMs = 10000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buffer[4096];
        while (WaitReadable(deadline)) {
            ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
            m_reset = m_reset || (n < 0 && errno == ECONNRESET);
            if (n <= 0)
                return true;
        }
        return false;
    }
    bool SawReset() const { return m_reset; }

    // Closes with a reset, as the socket of a process that dies does.
    void Reset() {
        linger lg{1, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        Close();
    }

private:
    void Close() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }
    bool WaitReadable(std::chrono::steady_clock::time_point deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{m_fd, POLLIN, 0};
        return m_fd >= 0 && left.count() > 0 && poll(&p, 1, static_cast<int>(left.count())) > 0;
    }

    int m_fd;
    std::string m_greeting;
    bool m_reset = false;
};

// A provider that takes connections and never answers: a socket that listens and never accepts. Closing it
// resets what waits, so that the jobs blocked on it end at once.
class SilentPort {
public:
    SilentPort() : m_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_fd, 1000);
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~SilentPort() { Close(); }
    int Port() const { return m_port; }
    void Close() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
    int m_port = 0;
};

} // namespace brimlow::test
