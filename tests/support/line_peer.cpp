#include "tests/support/line_peer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace brimlow::test {
namespace {

int ListenLoopback(int& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
    listen(fd, 8);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

void PeerSession::Send(const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        ssize_t n = send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

bool PeerSession::ReadLine(std::string& line) {
    for (size_t lf; (lf = m_pending.find('\n')) == std::string::npos;) {
        char buffer[1024];
        ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        m_pending.append(buffer, static_cast<size_t>(n));
    }
    size_t lf = m_pending.find('\n');
    line = m_pending.substr(0, lf > 0 && m_pending[lf - 1] == '\r' ? lf - 1 : lf);
    m_pending.erase(0, lf + 1);
    return true;
}

void PeerSession::WaitClosed() {
    char buffer[256];
    while (recv(m_fd, buffer, sizeof buffer, 0) > 0) {
    }
}

LinePeer::LinePeer(Script script) : m_script(std::move(script)), m_listen(ListenLoopback(m_port)) {
    m_thread = std::thread([this] {
        while (!m_stop) {
            pollfd pfd{m_listen, POLLIN, 0};
            int fd = poll(&pfd, 1, 50) > 0 ? accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC) : -1;
            if (fd < 0)
                continue;
            m_client = fd;
            ++m_connections;
            PeerSession session(fd);
            m_script(session);
            m_client = -1;
            close(fd);
        }
    });
}

LinePeer::~LinePeer() {
    m_stop = true;
    shutdown(m_listen, SHUT_RDWR);
    if (int client = m_client.load(); client >= 0)
        shutdown(client, SHUT_RDWR);
    m_thread.join();
    close(m_listen);
}

int UnusedPort() {
    int port = 0;
    close(ListenLoopback(port));
    return port;
}

} // namespace brimlow::test
