// The listener: accepts connections, greets or refuses them, and holds each one, without a thread or a session
// slot of its own, until it has logged in. It sleeps in poll until a connection, a byte, a deadline or Stop
// needs it.
#include "network/server.h"

#include "transports/socket_lines.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace brimlow::lan {

namespace {

// Before its login a connection may send any request, each answered "-10"; the largest that is kept whole is a
// Client Page. Group frames are larger and are thrown away unanswered: a client logs in first.
constexpr size_t kPendingBufferSize = kClientPageFrameSize;
constexpr int kAcceptBurst = 64;    // connections taken per wake, so that the waiting ones are served too
constexpr int kAcceptPauseMs = 100; // no descriptor left for a connection: accept again after this
const std::string kNotAuthenticatedReply = StatusReply(kNotAuthenticated);

bool SetTimeout(int fd, int option, int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

} // namespace

struct NetServer::Pending {
    int fd = -1; // -1 once closed or handed to a session
    std::string address;
    int64_t deadlineMs = 0; // the login deadline, or the end of a refusal's linger
    bool closing = false;   // its last line is sent: only the client's close is awaited
    std::string buffer;     // received and not yet taken
    uint64_t sent = 0;
    uint64_t received = 0;

    // Sends all of bytes without waiting; false when they do not fit (a client that reads nothing).
    bool Send(const std::string& bytes) {
        ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        sent += n > 0 ? static_cast<uint64_t>(n) : 0;
        return n == static_cast<ssize_t>(bytes.size());
    }
    void Close(bool abortive) {
        if (fd < 0)
            return;
        if (abortive)
            CloseAbortive(fd);
        else
            close(fd);
        fd = -1;
    }
};

void NetServer::Listen() {
    std::vector<Pending> pending; // in the order of arrival
    std::vector<pollfd> fds;
    int64_t acceptPausedUntil = 0;
    while (!m_stop.load() && !m_console.exiting.load()) {
        int64_t now = m_console.clock->NowMs();
        bool accepting = now >= acceptPausedUntil;
        fds.assign({{accepting ? m_listenFd : -1, POLLIN, 0}, {m_wakeFd, POLLIN, 0}});
        int64_t wait = accepting ? -1 : acceptPausedUntil - now;
        for (const Pending& connection : pending) {
            fds.push_back({connection.fd, POLLIN, 0});
            wait = wait < 0 ? connection.deadlineMs - now : std::min(wait, connection.deadlineMs - now);
        }
        if (poll(fds.data(), fds.size(), wait < 0 ? -1 : static_cast<int>(std::max<int64_t>(wait, 0))) < 0 &&
            errno != EINTR)
            break;
        now = m_console.clock->NowMs();
        for (size_t k = 0; k < pending.size(); ++k) {
            if (fds[k + 2].revents)
                Serve(pending[k]);
            if (pending[k].fd >= 0 && now >= pending[k].deadlineMs) {
                if (!pending[k].closing)
                    SetMonitorCommand("Connection closed...");
                pending[k].Close(!pending[k].closing);
            }
        }
        std::erase_if(pending, [](const Pending& connection) { return connection.fd < 0; });
        if ((fds[0].revents & POLLIN) && !Accept(pending))
            acceptPausedUntil = now + kAcceptPauseMs;
    }
    for (Pending& connection : pending)
        connection.Close(true);
    close(m_listenFd);
    m_listenFd = -1;
}

bool NetServer::Accept(std::vector<Pending>& pending) {
    for (int k = 0; k < kAcceptBurst; ++k) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int fd = accept4(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM;
        uint8_t bytes[4];
        memcpy(bytes, &peer.sin_addr.s_addr, 4);
        Pending connection;
        connection.fd = fd;
        connection.address = FormatIPv4(bytes);
        bool full = true;
        {
            std::lock_guard lock(m_console.databaseLock);
            for (const Slot& slot : m_slots)
                full = full && !slot.host.empty();
        }
        if (full) {
            SetMonitorCommand("Network Connection refused for " + connection.address);
            Refuse(connection, ConnectionRefusedGreeting(connection.address));
        } else {
            if (connection.address != "127.0.0.1")
                SetMonitorCommand("Network Session Started for " + connection.address);
            if (!connection.Send(SessionStartedGreeting(connection.address))) {
                connection.Close(true);
                continue;
            }
            connection.sent = 0; // the greeting is no reply
            connection.deadlineMs = m_console.clock->NowMs() + m_timings.loginDeadlineMs;
        }
        // The connection that has waited longest gives way, so a newcomer, an operator among strangers, always
        // gets its chance to log in.
        if (pending.size() >= m_timings.pendingLimit) {
            pending.front().Close(true);
            pending.erase(pending.begin());
        }
        pending.push_back(std::move(connection));
    }
    return true;
}

void NetServer::Serve(Pending& connection) {
    char chunk[kPendingBufferSize];
    ssize_t n = recv(connection.fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n <= 0) {
        connection.Close(!connection.closing);
        return;
    }
    if (connection.closing)
        return; // what a refused client still sends is read only so that the close carries no reset
    connection.received += static_cast<uint64_t>(n);
    connection.buffer.append(chunk, static_cast<size_t>(n));
    while (connection.fd >= 0 && !connection.closing) {
        FrameScan scan = ScanFrame(connection.buffer.data(), connection.buffer.size());
        connection.buffer.erase(0, scan.skip);
        if (!scan.complete)
            break;
        std::string frame = connection.buffer.substr(0, scan.length);
        connection.buffer.erase(0, scan.length);
        SetMonitorCommand("Received " + std::to_string(n) + " bytes");
        if (frame[1] == static_cast<char>(Request::Login)) {
            TakeLogin(connection, frame);
        } else {
            SetMonitorCommand("Connection is not authenticated!  " + std::to_string(frame[1] - 48));
            if (!connection.Send(kNotAuthenticatedReply))
                connection.Close(true);
        }
    }
    if (connection.buffer.size() >= kPendingBufferSize)
        connection.buffer.clear(); // more than any request it may send before its login
}

void NetServer::TakeLogin(Pending& connection, std::string_view frame) {
    LoginRequest login;
    std::optional<int16_t> level;
    if (DecodeLogin(frame, login))
        level = m_operators.Authenticate(login.user, login.password);
    if (!level) {
        SetMonitorCommand("INVALID PASSWORD");
        Refuse(connection, StatusReply(0));
        SetMonitorCommand("Connection closed...");
        return;
    }
    SetMonitorCommand("Login Successful");
    StartSession(connection, login.user, *level, std::move(connection.buffer));
}

bool NetServer::StartSession(Pending& connection, const std::string& user, int16_t level, std::string rest) {
    const int fd = connection.fd;
    int s = -1;
    {
        std::lock_guard lock(m_console.databaseLock);
        for (int k = 0; k < kSessionSlots && s < 0; ++k)
            if (m_slots[k].host.empty())
                s = k;
        if (s >= 0) {
            Slot& slot = m_slots[s];
            FreeSlotLocked(s);
            slot.sock = fd;
            slot.host = connection.address;
            slot.connectTime = m_console.clock->Now();
            slot.userName = user;
            slot.level = level;
            slot.bytesSent = connection.sent;
            slot.bytesReceived = connection.received;
        }
    }
    if (s < 0) {
        // Operators took every slot while this one logged in.
        SetMonitorCommand("Network Connection refused for " + connection.address);
        Refuse(connection, ConnectionRefusedGreeting(connection.address));
        return false;
    }
    // A slot whose connection cannot be set up is free again at once.
    auto giveUp = [&] {
        std::lock_guard lock(m_console.databaseLock);
        FreeSlotLocked(s);
        connection.Close(true);
        return false;
    };
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return giveUp();
    if (!SetTimeout(fd, SO_RCVTIMEO, m_timings.receiveTimeoutMs)) {
        SetMonitorCommand("Failed to set recv timeout: " + std::to_string(errno));
        return giveUp();
    }
    if (!SetTimeout(fd, SO_SNDTIMEO, m_timings.sendTimeoutMs)) {
        SetMonitorCommand("Failed to set send timeout: " + std::to_string(errno));
        return giveUp();
    }
    // Every reply leaves at once: no coalescing of small segments.
    int yes = 1;
    if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes) != 0)
        return giveUp();
    if (m_threads[s].joinable())
        m_threads[s].join(); // the slot's previous session has freed it and is ending
    try {
        m_threads[s] =
            std::thread([this, s, fd, user, level, rest = std::move(rest)] { RunSession(s, fd, user, level, rest); });
    } catch (const std::system_error&) {
        return giveUp(); // no thread for it: the client finds the connection closed and tries again later
    }
    connection.fd = -1; // the session's now
    return true;
}

// Sends the connection's last line, ends the sending side and waits, for at most the linger, for the client to
// close: a close with unread bytes would reset the connection, and the client might never see the line.
void NetServer::Refuse(Pending& connection, const std::string& line) {
    connection.Send(line);
    shutdown(connection.fd, SHUT_WR);
    connection.closing = true;
    connection.buffer.clear();
    connection.deadlineMs = m_console.clock->NowMs() + m_timings.lingerMs;
}

} // namespace brimlow::lan
