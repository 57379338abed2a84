#pragma once
// A LAN directory server after the wire description, for the client tests that a real server cannot serve: it
// records every request byte for byte, and any reply can be replaced by raw bytes (junk, short replies, a close
// in mid-reply). Otherwise it answers the login, reads of the directory it holds, empty change bitmaps and no
// ticket. Plain POSIX sockets; nothing of the client's code.
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

    // Set these up before a client connects.
    std::unique_ptr<Directory> dir;
    std::string user = "ann";
    std::string password = "secret";

    void SetOverride(Override override) {
        std::lock_guard lock(m_mutex);
        m_override = std::move(override);
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

private:
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

    // The Read Customer text: 14 quoted fields joined by commas.
    static std::string CustomerText(const SubscriberRecord& r) {
        std::string text;
        auto add = [&](const std::string& field) { text += (text.empty() ? "\"" : ",\"") + field + "\""; };
        for (const std::string& field : {GetText(r.Name), GetText(r.PIN), std::to_string(r.Company),
                                         std::to_string(r.Tab), GetText(r.CompanyName), GetText(r.Address),
                                         GetText(r.City), GetText(r.State), GetText(r.ZIP), GetText(r.WorkPhone),
                                         GetText(r.HomePhone), GetText(r.FAX), GetText(r.Cell), GetText(r.Email)})
            add(field);
        return text;
    }

    // Requests are taken apart by their fixed lengths, or at their ETX; every one is answered in turn.
    void Serve(PeerSession& session) {
        session.Send("Network Session Started for 127.0.0.1\r\n");
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
        char digits[8];
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
            snprintf(digits, sizeof digits, "%03d", static_cast<int>(text.size()));
            session.Send(digits + text);
            return true;
        }
        case '3': {
            const GroupRecord& g = dir->groups[index];
            int m = 0;
            while (m < kGroupMembers && g.Members[m][0])
                ++m;
            snprintf(digits, sizeof digits, "%03d", m);
            session.Send(digits + std::string(g.Members[0], static_cast<size_t>(m) * kMemberNameSize));
            return true;
        }
        case '?':
            session.Send(std::string(reinterpret_cast<const char*>(&dir->companies[index]), sizeof(CompanyRecord)));
            return true;
        case '8': session.Send(std::string(250, '\0')); return true;
        case '9': session.Send(std::string(25, '\0')); return true;
        case 'D': case 'E': session.Send(std::string(280, '\0')); return true;
        case 'F': session.Send("-1\r\n"); return true;
        default:
            if (request[1] >= '0' && request[1] <= 'F')
                session.Send("1\r\n");
            return true;
        }
    }

    mutable std::mutex m_mutex;
    Override m_override;
    std::vector<std::string> m_requests;
    LinePeer m_peer; // last: its sessions use everything above
};

} // namespace brimlow::test
