#pragma once
// A loopback TCP peer on plain POSIX calls: it runs a script for each connection, one after another.
#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace brimlow::test {

class PeerSession {
public:
    explicit PeerSession(int fd) : m_fd(fd) {}
    void Send(const std::string& bytes);
    void SendLine(const std::string& line) { Send(line + "\r\n"); }
    // One line without its CR LF; false when the connection closed.
    bool ReadLine(std::string& line);
    // Waits until the client closes (a server that never answers).
    void WaitClosed();
    // The connection itself, for peers that read raw bytes.
    int Fd() const { return m_fd; }

private:
    int m_fd;
    std::string m_pending;
};

class LinePeer {
public:
    using Script = std::function<void(PeerSession&)>;
    explicit LinePeer(Script script);
    ~LinePeer();
    int Port() const { return m_port; }
    int Connections() const { return m_connections.load(); }

private:
    Script m_script;
    int m_port = 0; // before m_listen, which sets it
    int m_listen = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_client{-1};
    std::thread m_thread;
};

// A port on loopback that nothing listens on.
int UnusedPort();

} // namespace brimlow::test
