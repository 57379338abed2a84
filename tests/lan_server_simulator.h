#pragma once
// A LAN directory server after the wire description, for client tests that need chosen replies: the greeting,
// the login, reads of a directory it holds, change bitmaps the test sets, tickets, and any reply replaced by
// raw bytes (junk, short replies, a close in mid-reply). Plain POSIX sockets; nothing of the client's code.
#include "directory/directory.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace brimlow::test {

class LanServerSimulator {
public:
    struct Reply {
        std::string bytes;
        bool close = false; // close the connection after sending bytes
    };
    // Returns a reply that replaces the normal one for this request, or nothing.
    using Override = std::function<std::optional<Reply>(const std::string& request)>;

    LanServerSimulator() : dir(Directory::Create()) {
        m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(m_listen, 8);
        socklen_t len = sizeof addr;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Accept(); });
    }
    ~LanServerSimulator() {
        m_stop = true;
        m_thread.join();
        close(m_listen);
    }

    int Port() const { return m_port; }
    int Connections() const { return m_connections.load(); }

    std::unique_ptr<Directory> dir; // the server's tables; set them up before a client connects
    std::string greeting = "Network Session Started for 127.0.0.1\r\n";
    std::string user = "ann";
    std::string password = "secret";
    int level = 2;

    // Changes the tables while sessions may read them.
    template <typename F> void Change(F&& change) {
        std::lock_guard lock(m_mutex);
        change(*dir);
    }
    void SetGreeting(const std::string& text) {
        std::lock_guard lock(m_mutex);
        greeting = text;
    }
    void SetOverride(Override override) {
        std::lock_guard lock(m_mutex);
        m_override = std::move(override);
    }
    void MarkSubscriber(int slot) {
        std::lock_guard lock(m_mutex);
        m_subscriberBits[slot / 8] |= static_cast<uint8_t>(1 << (slot % 8));
    }
    void MarkGroup(int group) {
        std::lock_guard lock(m_mutex);
        m_groupBits[group / 8] |= static_cast<uint8_t>(1 << (group % 8));
    }
    void AddTicket(const std::string& name, const std::string& content) {
        std::lock_guard lock(m_mutex);
        m_tickets.push_back({name, content});
    }
    std::vector<std::string> Requests() const {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    // The requests' codes in order, one character each.
    std::string Codes() const {
        std::string codes;
        for (const std::string& r : Requests())
            codes.push_back(r.size() > 1 ? r[1] : '?');
        return codes;
    }
    void ClearRequests() {
        std::lock_guard lock(m_mutex);
        m_requests.clear();
    }
    // Waits until the client has closed its connection.
    bool WaitForClose(int timeoutMs = 10000) {
        for (int waited = 0; waited < timeoutMs; waited += 5) {
            if (m_open.load() == 0 && m_connections.load() > 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    // The Read Customer text of a record: 14 quoted fields joined by commas.
    static std::string CustomerText(const SubscriberRecord& r) {
        auto q = [](const std::string& s) { return "\"" + s + "\""; };
        std::string text = q(GetText(r.Name)) + "," + q(GetText(r.PIN)) + "," + q(std::to_string(r.Company)) +
                           "," + q(std::to_string(r.Tab)) + "," + q(GetText(r.CompanyName)) + "," +
                           q(GetText(r.Address)) + "," + q(GetText(r.City)) + "," + q(GetText(r.State)) + "," +
                           q(GetText(r.ZIP)) + "," + q(GetText(r.WorkPhone)) + "," + q(GetText(r.HomePhone)) +
                           "," + q(GetText(r.FAX)) + "," + q(GetText(r.Cell)) + "," + q(GetText(r.Email));
        return text;
    }

private:
    struct Ticket {
        std::string name;
        std::string content;
    };

    static size_t FixedLength(char code) {
        switch (code) {
        case '0': return 63;
        case '1': case '<': return 543;
        case ':': return 16207;
        case '=': return 16287;
        case 'B': return 1111;
        case 'C': return 2435;
        default: return 0;
        }
    }

    void Accept() {
        std::vector<std::thread> sessions;
        while (!m_stop) {
            pollfd pfd{m_listen, POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0)
                continue;
            int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            ++m_connections;
            ++m_open;
            sessions.emplace_back([this, fd] {
                Serve(fd);
                close(fd);
                --m_open;
            });
        }
        for (std::thread& t : sessions)
            t.join();
    }

    static void SendAll(int fd, const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }

    void Serve(int fd) {
        std::string hello;
        {
            std::lock_guard lock(m_mutex);
            hello = greeting;
        }
        SendAll(fd, hello);
        if (hello.rfind("Network Connection refused", 0) == 0)
            return;
        std::string buffer;
        char chunk[4096];
        while (!m_stop) {
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0)
                continue;
            ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return;
            buffer.append(chunk, static_cast<size_t>(n));
            while (buffer.size() >= 2) {
                size_t fixed = FixedLength(buffer[1]);
                size_t end = fixed ? fixed : buffer.find('\x03') + 1;
                if (end == 0 || buffer.size() < end)
                    break;
                std::string request = buffer.substr(0, end);
                buffer.erase(0, end);
                if (!Answer(fd, request))
                    return;
            }
        }
    }

    // False when the connection is to end.
    bool Answer(int fd, const std::string& request) {
        Override override;
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
            override = m_override;
        }
        if (override)
            if (std::optional<Reply> reply = override(request)) {
                SendAll(fd, reply->bytes);
                return !reply->close;
            }
        std::string body = request.substr(2, request.size() - 3);
        int index = atoi(body.c_str());
        std::lock_guard lock(m_mutex);
        switch (request[1]) {
        case '0': {
            auto field = [&](size_t at) { std::string f = request.substr(at, 30); return f.substr(0, f.find(' ')); };
            bool ok = field(2) == user && field(32) == password;
            SendAll(fd, ok ? "1\r\n" : "0\r\n");
            return ok;
        }
        case '2': {
            std::string text = CustomerText(dir->subscribers[index]);
            char length[8];
            snprintf(length, sizeof length, "%03d", static_cast<int>(text.size()));
            SendAll(fd, length + text);
            return true;
        }
        case '3': {
            const GroupRecord& g = dir->groups[index];
            int m = 0;
            while (m < kGroupMembers && g.Members[m][0])
                ++m;
            char count[8];
            snprintf(count, sizeof count, "%03d", m);
            SendAll(fd, count + std::string(g.Members[0], static_cast<size_t>(m) * kMemberNameSize));
            return true;
        }
        case '?':
            SendAll(fd, std::string(reinterpret_cast<const char*>(&dir->companies[index]), sizeof(CompanyRecord)));
            return true;
        case '8':
            SendAll(fd, std::string(reinterpret_cast<const char*>(m_subscriberBits), sizeof m_subscriberBits));
            memset(m_subscriberBits, 0, sizeof m_subscriberBits);
            return true;
        case '9':
            SendAll(fd, std::string(reinterpret_cast<const char*>(m_groupBits), sizeof m_groupBits));
            memset(m_groupBits, 0, sizeof m_groupBits);
            return true;
        case '>':
            SendAll(fd, std::to_string(level) + "\r\n");
            return true;
        case '6':
            SendAll(fd, "Not Locked");
            return true;
        case '=':
            SendAll(fd, "1\r\n");
            return true;
        case 'D':
            m_nextTicket = 0;
            [[fallthrough]];
        case 'E': {
            std::string record(280, '\0');
            if (m_nextTicket < m_tickets.size()) {
                const Ticket& t = m_tickets[m_nextTicket++];
                record[0] = 0x20;
                uint32_t size = static_cast<uint32_t>(t.content.size());
                memcpy(record.data() + 16, &size, 4);
                memcpy(record.data() + 20, t.name.data(), std::min<size_t>(t.name.size(), 259));
            }
            SendAll(fd, record);
            return true;
        }
        case 'F': {
            std::string name = body.substr(0, body.find('\0'));
            for (size_t i = 0; i < m_tickets.size(); ++i)
                if (m_tickets[i].name == name) {
                    std::string content = m_tickets[i].content.substr(0, 4000);
                    m_tickets.erase(m_tickets.begin() + static_cast<long>(i));
                    if (m_nextTicket > i)
                        --m_nextTicket;
                    char length[8];
                    snprintf(length, sizeof length, "%04d", static_cast<int>(content.size()));
                    SendAll(fd, length + content);
                    return true;
                }
            SendAll(fd, "-1\r\n");
            return true;
        }
        default:
            if (request[1] >= '0' && request[1] <= 'F')
                SendAll(fd, "1\r\n");
            return true;
        }
    }

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_open{0};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    Override m_override;
    std::vector<std::string> m_requests;
    uint8_t m_subscriberBits[250] = {};
    uint8_t m_groupBits[25] = {};
    std::vector<Ticket> m_tickets;
    size_t m_nextTicket = 0;
};

} // namespace brimlow::test
