#pragma once
// An SNPP server after RFC 1861, for what the real peer does not do: chosen replies per command (421, 550), a
// refused greeting, silence, a connection closed without reply, and MSTA lists that grow from check to check.
#include "tests/support/line_peer.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace brimlow::test {

struct SnppScript {
    std::string greeting = "220 SNPP simulator ready";
    bool silent = false;                        // accept, then never answer
    std::map<std::string, std::string> replies; // command word -> reply that replaces the normal one
    std::string closeAfter;                     // command word after which the connection is closed unanswered
    std::string twoWaySendReply = "960 31337 5 OK, Message queued";
    // The MSTA replies of the n-th MSTA (0-based); a 259 line follows unless endList is false.
    std::vector<std::vector<std::string>> statusLists;
    bool endList = true;
};

class SnppSimulator {
public:
    explicit SnppSimulator(SnppScript script)
        : m_script(std::move(script)), m_peer([this](PeerSession& session) { Serve(session); }) {}
    int Port() const { return m_peer.Port(); }
    std::vector<std::string> Commands() const { return Copy(m_commands); }
    std::vector<std::string> Messages() const { return Copy(m_messages); }

private:
    void Serve(PeerSession& session) {
        if (m_script.silent) {
            session.WaitClosed();
            return;
        }
        session.SendLine(m_script.greeting);
        if (m_script.greeting.rfind("5", 0) == 0)
            return;
        bool twoWay = false;
        std::string line;
        while (session.ReadLine(line)) {
            std::string word = line.substr(0, line.find(' '));
            Record(m_commands, line);
            if (word == m_script.closeAfter)
                return;
            std::string reply = Normal(session, word, line, twoWay);
            if (auto it = m_script.replies.find(word); it != m_script.replies.end())
                reply = it->second;
            if (!reply.empty())
                session.SendLine(reply);
            if (word == "QUIT")
                return;
        }
    }

    std::string Normal(PeerSession& session, const std::string& word, const std::string& line, bool& twoWay) {
        if (word == "2WAY") {
            twoWay = true;
            return "250 OK, beginning 2-way transaction";
        }
        if (word == "PAGE")
            return "250 Pager ID accepted";
        if (word == "DATA") {
            if (auto it = m_script.replies.find("DATA"); it != m_script.replies.end())
                return it->second;
            session.SendLine("354 Begin input; end with <CRLF>'.'<CRLF>");
            std::string text, data;
            while (session.ReadLine(data) && data != ".")
                text += (data.rfind("..", 0) == 0 ? data.substr(1) : data) + "\n";
            Record(m_messages, text);
            return m_script.replies.count("END") ? m_script.replies["END"] : "250 Message OK";
        }
        if (word == "SEND")
            return twoWay ? m_script.twoWaySendReply : "250 Message sent successfully";
        if (word == "MSTA") {
            size_t n = m_msta++;
            const std::vector<std::string> none;
            const auto& lines = n < m_script.statusLists.size() ? m_script.statusLists[n] : none;
            for (const std::string& status : lines)
                session.SendLine(status);
            return m_script.endList ? "259 End of status list for " + line.substr(5) : "";
        }
        if (word == "QUIT")
            return "221 OK, goodbye";
        return "500 Command not implemented";
    }

    std::vector<std::string> Copy(const std::vector<std::string>& lines) const {
        std::lock_guard lock(m_mutex);
        return lines;
    }
    void Record(std::vector<std::string>& into, const std::string& text) {
        std::lock_guard lock(m_mutex);
        into.push_back(text);
    }

    SnppScript m_script;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_commands;
    std::vector<std::string> m_messages;
    size_t m_msta = 0;
    LinePeer m_peer;
};

} // namespace brimlow::test
