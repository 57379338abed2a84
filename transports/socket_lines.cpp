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
#include <thread>
#include <unistd.h>

namespace brimlow {
namespace {

constexpr int kLineTimedTotalSeconds = 60;
constexpr int kLineTimedByteSeconds = 3;

bool IsTimeout(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == ETIMEDOUT; }

constexpr int kByteTimedOut = -2;

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// One byte within waitMs; kByteTimedOut when none came, -1 when the connection closed or failed. Unlike
// RecvByteTimed a NUL byte stays distinguishable from silence.
int TakeByteWithin(int sock, int waitMs) {
    pollfd pfd{sock, POLLIN, 0};
    int ready = poll(&pfd, 1, waitMs);
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return kByteTimedOut;
    if (ready < 0)
        return -1;
    unsigned char c = 0;
    ssize_t n = recv(sock, &c, 1, 0);
    if (n == 1)
        return c;
    if (n < 0 && IsTimeout(errno))
        return kByteTimedOut;
    return -1;
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

int RecvLine(int sock, std::string& line, size_t maximum, int overallLimitMs) {
    line.clear();
    std::string acc;
    int64_t deadline = overallLimitMs > 0 ? NowMs() + overallLimitMs : 0;
    char buffer[512];
    while (acc.size() < maximum && acc.find("\r\n") == std::string::npos) {
        size_t want = std::min(sizeof buffer, maximum - acc.size());
        ssize_t n = recv(sock, buffer, want, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && IsTimeout(errno)) {
            if (deadline && NowMs() >= deadline)
                return -1;
            continue;
        }
        if (n <= 0)
            return -1;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\b') {
                if (!acc.empty())
                    acc.pop_back();
            } else {
                acc.push_back(buffer[i]);
            }
        }
        if (deadline && NowMs() >= deadline && acc.find("\r\n") == std::string::npos && acc.size() < maximum)
            return -1;
    }
    size_t cut = acc.find_first_of("\r\n");
    line = acc.substr(0, cut);
    return static_cast<int>(acc.size());
}

int PeekByte(int sock) {
    unsigned char c = 0;
    ssize_t n = recv(sock, &c, 1, MSG_PEEK);
    return n == 1 ? c : 0;
}

int RecvByteTimed(int sock, int seconds) {
    int c = TakeByteWithin(sock, seconds <= 0 ? 0 : seconds * 1000);
    return c == kByteTimedOut ? 0 : c;
}

int RecvLineTimed(int sock, std::string& line, size_t size) {
    line.clear();
    std::string acc;
    int64_t deadline = NowMs() + kLineTimedTotalSeconds * 1000;
    while (NowMs() < deadline && acc.size() < size) {
        int c = TakeByteWithin(sock, kLineTimedByteSeconds * 1000);
        // Silence ends the line: a status list comes in one burst, and a server that does not close it with a
        // 259 line must not hold each check for the whole minute.
        if (c == kByteTimedOut || c < 0)
            break;
        if (c == 0)
            continue; // a NUL byte carries nothing and does not end the line
        acc.push_back(static_cast<char>(c));
        if (acc.size() >= 2 && acc.compare(acc.size() - 2, 2, "\r\n") == 0)
            break;
    }
    line = acc.substr(0, acc.find_first_of("\r\n"));
    return static_cast<int>(acc.size());
}

int ReplyCode(const std::string& line) {
    if (line.size() < 3)
        return 0;
    int value = 0;
    for (int i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return 0;
        value = value * 10 + (line[i] - '0');
    }
    return value;
}

bool ReplyOk(const std::string& line) {
    int code = ReplyCode(line);
    return code < 500 || code > 599;
}

size_t RecvSome(int sock, void* buffer, size_t size, bool retryOnTimeout, int overallLimitMs) {
    int64_t deadline = overallLimitMs > 0 ? NowMs() + overallLimitMs : 0;
    while (size > 0) {
        ssize_t n = recv(sock, buffer, size, 0);
        if (n > 0)
            return static_cast<size_t>(n);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && IsTimeout(errno) && retryOnTimeout && !(deadline && NowMs() >= deadline))
            continue;
        break;
    }
    return 0;
}

size_t RecvExact(int sock, void* buffer, size_t size, bool retryOnTimeout, int overallLimitMs) {
    char* p = static_cast<char*>(buffer);
    int64_t deadline = overallLimitMs > 0 ? NowMs() + overallLimitMs : 0;
    size_t done = 0;
    while (done < size) {
        int left = deadline ? static_cast<int>(std::max<int64_t>(deadline - NowMs(), 1)) : 0;
        size_t n = RecvSome(sock, p + done, size - done, retryOnTimeout, left);
        if (n == 0)
            break;
        done += n;
    }
    return done;
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
