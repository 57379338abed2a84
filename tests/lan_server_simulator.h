#pragma once
// A LAN directory server after the wire description, for client tests that need chosen replies: the greeting,
// the login, reads of a directory it holds, change bitmaps the test sets, tickets, and any reply replaced by
// raw bytes (junk, short replies, a close in mid-reply). Plain POSIX sockets; nothing of the client's code.
#include "directory/directory.h"
#include "tests/support/line_peer.h"

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/socket.h>
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

    LanServerSimulator() : dir(Directory::Create()), m_peer([this](PeerSession& session) { Serve(session); }) {}

    int Port() const { return m_peer.Port(); }
    int Connections() const { return m_peer.Connections(); }

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

    // Requests are taken apart by their fixed lengths, or at their ETX; every one is answered in turn.
    void Serve(PeerSession& session) {
        std::string hello;
        {
            std::lock_guard lock(m_mutex);
            hello = greeting;
        }
        session.Send(hello);
        if (hello.rfind("Network Connection refused", 0) == 0)
            return;
        std::string buffer;
        char chunk[4096];
        for (;;) {
            ssize_t n = recv(session.Fd(), chunk, sizeof chunk, 0);
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
                if (!Answer(session, request))
                    return;
            }
        }
    }

    // False when the connection is to end.
    bool Answer(PeerSession& session, const std::string& request) {
        Override override;
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
            override = m_override;
        }
        if (override)
            if (std::optional<Reply> reply = override(request)) {
                session.Send(reply->bytes);
                return !reply->close;
            }
        std::string body = request.substr(2, request.size() - 3);
        int index = atoi(body.c_str());
        std::lock_guard lock(m_mutex);
        switch (request[1]) {
        case '0': {
            auto field = [&](size_t at) { std::string f = request.substr(at, 30); return f.substr(0, f.find(' ')); };
            bool ok = field(2) == user && field(32) == password;
            session.Send(ok ? "1\r\n" : "0\r\n");
            return ok;
        }
        case '2': {
            std::string text = CustomerText(dir->subscribers[index]);
            char length[8];
            snprintf(length, sizeof length, "%03d", static_cast<int>(text.size()));
            session.Send(length + text);
            return true;
        }
        case '3': {
            const GroupRecord& g = dir->groups[index];
            int m = 0;
            while (m < kGroupMembers && g.Members[m][0])
                ++m;
            char count[8];
            snprintf(count, sizeof count, "%03d", m);
            session.Send(count + std::string(g.Members[0], static_cast<size_t>(m) * kMemberNameSize));
            return true;
        }
        case '?':
            session.Send(std::string(reinterpret_cast<const char*>(&dir->companies[index]), sizeof(CompanyRecord)));
            return true;
        case '8':
            session.Send(std::string(reinterpret_cast<const char*>(m_subscriberBits), sizeof m_subscriberBits));
            memset(m_subscriberBits, 0, sizeof m_subscriberBits);
            return true;
        case '9':
            session.Send(std::string(reinterpret_cast<const char*>(m_groupBits), sizeof m_groupBits));
            memset(m_groupBits, 0, sizeof m_groupBits);
            return true;
        case '>':
            session.Send(std::to_string(level) + "\r\n");
            return true;
        case '6':
            session.Send("Not Locked");
            return true;
        case '=':
            session.Send("1\r\n");
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
            session.Send(record);
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
                    session.Send(length + content);
                    return true;
                }
            session.Send("-1\r\n");
            return true;
        }
        default:
            if (request[1] >= '0' && request[1] <= 'F')
                session.Send("1\r\n");
            return true;
        }
    }

    mutable std::mutex m_mutex;
    Override m_override;
    std::vector<std::string> m_requests;
    uint8_t m_subscriberBits[250] = {};
    uint8_t m_groupBits[25] = {};
    std::vector<Ticket> m_tickets;
    size_t m_nextTicket = 0;
    LinePeer m_peer; // last: its sessions use everything above
};

} // namespace brimlow::test
