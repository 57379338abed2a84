#include "transports/socket_lines.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace brimlow {
namespace {

constexpr int kLineTimedTotalSeconds = 60;
constexpr int kLineTimedByteSeconds = 3;
constexpr size_t kReceiveChunk = 4096;

bool IsTimeout(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == ETIMEDOUT; }

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t DeadlineAfter(int limitMs) { return limitMs > 0 ? NowMs() + limitMs : 0; }

bool EndsWithCrLf(const std::string& text) {
    return text.size() >= 2 && text[text.size() - 2] == '\r' && text.back() == '\n';
}

std::string CutAtLineEnd(const std::string& text) { return text.substr(0, text.find_first_of("\r\n")); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "250-first line": more lines of the same reply follow.
bool IsContinuation(const std::string& line) {
    return line.size() >= 4 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) && line[3] == '-';
}

} // namespace

bool ContainsLetter(const std::string& text) {
    for (unsigned char c : text)
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            return true;
    return false;
}

int SendText(int sock, const std::string& text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (size_t i = 0; i < text.size() && out.size() < kSendTextLimit; ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            out.push_back('\r');
            if (out.size() >= kSendTextLimit)
                break;
        }
        out.push_back(text[i]);
    }
    ssize_t n = send(sock, out.data(), out.size(), MSG_NOSIGNAL);
    if (n > 0 || (n < 0 && IsTimeout(errno)))
        return 0;
    return out.empty() && n == 0 ? 0 : -1;
}

bool SendBytes(int sock, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = send(sock, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

SocketReader::Received SocketReader::Receive(int waitMs) {
    if (m_sock < 0)
        return Received::Closed;
    if (waitMs >= 0) {
        pollfd pfd{m_sock, POLLIN, 0};
        int ready = poll(&pfd, 1, waitMs);
        if (ready < 0 && errno != EINTR)
            return Received::Closed;
        if (ready <= 0)
            return Received::Silent;
    }
    char buffer[kReceiveChunk];
    ssize_t n;
    do {
        n = recv(m_sock, buffer, sizeof buffer, 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        m_pending.append(buffer, static_cast<size_t>(n));
        return Received::Bytes;
    }
    return n < 0 && IsTimeout(errno) ? Received::Silent : Received::Closed;
}

bool SocketReader::ReceiveMore(bool retry, int64_t deadline) {
    for (;;) {
        int waitMs = -1; // the socket's receive time-out
        if (retry && deadline) {
            int64_t left = deadline - NowMs();
            if (left <= 0)
                return false;
            waitMs = static_cast<int>(left);
        }
        Received got = Receive(waitMs);
        if (got != Received::Silent || !retry)
            return got == Received::Bytes;
    }
}

SocketReader::LineEnd SocketReader::TakeLine(std::string& acc, size_t maximum, int64_t deadline) {
    acc.clear();
    for (;;) {
        size_t used = 0;
        while (used < m_pending.size()) {
            char c = m_pending[used++];
            if (c == '\b') {
                if (!acc.empty())
                    acc.pop_back();
            } else {
                acc.push_back(c);
            }
            if (EndsWithCrLf(acc) || acc.size() >= maximum) {
                m_pending.erase(0, used);
                return EndsWithCrLf(acc) ? LineEnd::Whole : LineEnd::Full;
            }
        }
        m_pending.clear();
        if (!ReceiveMore(true, deadline))
            return LineEnd::Failed;
    }
}

bool SocketReader::SkipRestOfLine(char last, int64_t deadline) {
    for (;;) {
        for (size_t i = 0; i < m_pending.size(); ++i) {
            if (last == '\r' && m_pending[i] == '\n') {
                m_pending.erase(0, i + 1);
                return true;
            }
            last = m_pending[i];
        }
        m_pending.clear();
        if (!ReceiveMore(true, deadline))
            return false;
    }
}

int SocketReader::RecvLine(std::string& line, size_t maximum, int overallLimitMs) {
    line.clear();
    std::string acc;
    if (TakeLine(acc, maximum, DeadlineAfter(overallLimitMs)) == LineEnd::Failed)
        return -1;
    line = CutAtLineEnd(acc);
    return static_cast<int>(acc.size());
}

bool SocketReader::RecvReply(std::vector<std::string>& lines, size_t maximum, int overallLimitMs) {
    lines.clear();
    int64_t deadline = DeadlineAfter(overallLimitMs);
    std::string acc;
    while (lines.size() < kReplyLineLimit) {
        LineEnd end = TakeLine(acc, maximum, deadline);
        if (end == LineEnd::Failed || (end == LineEnd::Full && !SkipRestOfLine(acc.back(), deadline)))
            break;
        lines.push_back(CutAtLineEnd(acc));
        if (!IsContinuation(lines.back()))
            return true;
    }
    lines.clear();
    return false;
}

int SocketReader::RecvLineTimed(std::string& line, size_t size) {
    line.clear();
    std::string acc;
    int64_t deadline = NowMs() + kLineTimedTotalSeconds * 1000;
    size_t used = 0;
    while (acc.size() < size) {
        if (used == m_pending.size()) {
            m_pending.clear();
            used = 0;
            // Silence ends the line: a status list comes in one burst, and a server that does not close it with
            // a 259 line must not hold each check for the whole minute.
            int64_t left = deadline - NowMs();
            if (left <= 0 ||
                Receive(static_cast<int>(std::min<int64_t>(left, kLineTimedByteSeconds * 1000))) != Received::Bytes)
                break;
        }
        char c = m_pending[used++];
        if (c == '\0')
            continue; // a NUL byte carries nothing and does not end the line
        acc.push_back(c);
        if (EndsWithCrLf(acc))
            break;
    }
    m_pending.erase(0, used);
    line = CutAtLineEnd(acc);
    return static_cast<int>(acc.size());
}

size_t SocketReader::RecvExact(void* buffer, size_t size, bool retryOnTimeout, int overallLimitMs) {
    char* out = static_cast<char*>(buffer);
    int64_t deadline = DeadlineAfter(overallLimitMs);
    size_t done = 0;
    while (done < size) {
        if (m_pending.empty() && !ReceiveMore(retryOnTimeout, deadline))
            break;
        size_t n = std::min(size - done, m_pending.size());
        memcpy(out + done, m_pending.data(), n);
        m_pending.erase(0, n);
        done += n;
    }
    return done;
}

size_t SocketReader::RecvSome(void* buffer, size_t size, bool retryOnTimeout, int overallLimitMs) {
    if (size == 0 || (m_pending.empty() && !ReceiveMore(retryOnTimeout, DeadlineAfter(overallLimitMs))))
        return 0;
    size_t n = std::min(size, m_pending.size());
    memcpy(buffer, m_pending.data(), n);
    m_pending.erase(0, n);
    return n;
}

int ReplyCode(const std::string& line) {
    if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]))
        return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

bool ReplyOk(const std::string& line) {
    int code = ReplyCode(line);
    return code < 400 || code > 599;
}

bool ReplyPermanent(const std::string& line) {
    int code = ReplyCode(line);
    return code >= 500 && code <= 599;
}

ConnectResult ConnectTcp(const std::string& address, int port, int timeoutMs) {
    ConnectResult result;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    bool resolved = false;
    if (ContainsLetter(address)) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(address.c_str(), nullptr, &hints, &found) == 0 && found) {
            target.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
            resolved = true;
            freeaddrinfo(found);
        }
    }
    // Digits and dots are never looked up by name; the all-ones address is no address.
    if (!resolved) {
        in_addr parsed{};
        if (inet_pton(AF_INET, address.c_str(), &parsed) != 1 || parsed.s_addr == INADDR_NONE) {
            result.error = ConnectError::Resolve;
            return result;
        }
        target.sin_addr = parsed;
    }
    int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        result.error = ConnectError::Socket;
        return result;
    }
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
        result.error = ConnectError::RecvTimeout;
        result.socketError = errno;
        close(sock);
        return result;
    }
    if (setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) {
        result.error = ConnectError::SendTimeout;
        result.socketError = errno;
        close(sock);
        return result;
    }
    if (connect(sock, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        result.error = ConnectError::Connect;
        close(sock);
        return result;
    }
    result.sock = sock;
    return result;
}

void CloseAbortive(int sock) {
    if (sock < 0)
        return;
    linger lg{1, 0};
    setsockopt(sock, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    close(sock);
}

void CloseSocket(int sock) {
    if (sock >= 0)
        close(sock);
}

} // namespace brimlow
