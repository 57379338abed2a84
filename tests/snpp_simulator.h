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
    bool silent = false; // accept, then never answer
    // Command word (END: the end of the data) -> the reply that replaces the normal one.
    std::map<std::string, std::string> replies;
    std::string closeAfter; // command word after which the connection is closed unanswered
    std::string twoWaySendReply = "960 31337 5 OK, Message queued";
    // The MSTA replies of the n-th MSTA (0-based), each list followed by a 259 line.
    std::vector<std::vector<std::string>> statusLists;
};

class SnppSimulator {
public:
    explicit SnppSimulator(SnppScript script)
        : m_script(std::move(script)), m_peer([this](PeerSession& session) { Serve(session); }) {}
    int Port() const { return m_peer.Port(); }
    std::vector<std::string> Commands() const { return Locked(m_commands); }
    std::vector<std::string> Messages() const { return Locked(m_messages); }

private:
    void Serve(PeerSession& session) {
        if (m_script.silent)
            return session.WaitClosed();
        session.SendLine(m_script.greeting);
        bool twoWay = false;
        for (std::string line; !m_script.greeting.starts_with('5') && session.ReadLine(line);) {
            std::string word = line.substr(0, line.find(' '));
            Record(m_commands, line);
            if (word == m_script.closeAfter)
                return;
            auto replaced = m_script.replies.find(word);
            std::string reply = replaced != m_script.replies.end() ? replaced->second : Normal(session, word, twoWay);
            if (!reply.empty())
                session.SendLine(reply);
            if (word == "QUIT")
                return;
        }
    }

    std::string Normal(PeerSession& session, const std::string& word, bool& twoWay) {
        if (word == "2WAY") {
            twoWay = true;
            return "250 OK, beginning 2-way transaction";
        }
        if (word == "PAGE")
            return "250 Pager ID accepted";
        if (word == "DATA") {
            session.SendLine("354 Begin input; end with <CRLF>'.'<CRLF>");
            std::string text;
            for (std::string data; session.ReadLine(data) && data != ".";)
                text += (data.starts_with("..") ? data.substr(1) : data) + "\n";
            Record(m_messages, text);
            return m_script.replies.contains("END") ? m_script.replies.at("END") : "250 Message OK";
        }
        if (word == "SEND")
            return twoWay ? m_script.twoWaySendReply : "250 Message sent successfully";
        if (word == "MSTA") {
            for (const std::string& status :
                 m_msta < m_script.statusLists.size() ? m_script.statusLists[m_msta] : std::vector<std::string>{})
                session.SendLine(status);
            ++m_msta;
            return "259 End of status list";
        }
        return word == "QUIT" ? "221 OK, goodbye" : "500 Command not implemented";
    }

    std::vector<std::string> Locked(const std::vector<std::string>& lines) const {
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
