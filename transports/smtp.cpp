#include "transports/smtp.h"

#include "queue/logs.h"
#include "queue/status.h"

#include <cstdlib>
#include <cstring>

namespace brimlow {
namespace {

constexpr size_t kMailServerNameLimit = 79;

enum class SmtpPhase { Greeting, Helo, MailFrom, RcptTo, Data, EndOfData };

class SmtpDialogue {
public:
    SmtpDialogue(Console& console, const LineLimits& limits) : m_console(console), m_channel(TraceArea::Smtp, limits) {}

    int Run(FILE* packet, const std::string& recipient) {
        Settings settings = m_console.settings.Get();
        m_server = settings.OutboundMailServer.substr(0, kMailServerNameLimit);
        Post("Connecting to " + m_server + "...");
        if (!m_channel.Connect(m_server, SmtpPort(), [this](const std::string& line) { Post(line); }))
            return 0;
        if (!Step(SmtpPhase::Greeting, "") || !Step(SmtpPhase::Helo, std::string("HELO ") + kHeloDomain + "\r\n") ||
            !Step(SmtpPhase::MailFrom, "MAIL FROM: <" + settings.ReturnAddress + ">\r\n") ||
            !Step(SmtpPhase::RcptTo, "RCPT TO: " + recipient + "\r\n") || !Step(SmtpPhase::Data, "DATA\r\n"))
            return 0;
        SendBody(packet);
        if (!Step(SmtpPhase::EndOfData, "\r\n.\r\n"))
            return 0;
        m_channel.SendLine("QUIT\r\n");
        m_channel.ReadReply(m_reply, kSmtpReplySize);
        m_console.sentPages.fetch_add(1);
        return 1;
    }

private:
    void Post(const std::string& line) { PostStatus(m_console, line); }

    // Sends the phase's command, reads one reply, posts both and decides.
    bool Step(SmtpPhase phase, const std::string& command) {
        if (!command.empty())
            m_channel.SendLine(command);
        bool answered = m_channel.ReadReply(m_reply, kSmtpReplySize) >= 0;
        if (phase != SmtpPhase::Greeting && phase != SmtpPhase::EndOfData)
            Post(command);
        Post(answered ? m_reply : NoReplyText(m_server));
        if (answered && ReplyOk(m_reply))
            return true;
        if (phase != SmtpPhase::Greeting)
            m_console.failedPages.fetch_add(1);
        return false;
    }

    // Everything after line 2, each line with LF as CR LF. A line that begins with "." gets one more in front
    // (transparency); a line longer than one read continues in the next, which is no line start.
    void SendBody(FILE* packet) {
        char line[kSmtpBodyLineSize];
        bool atLineStart = true;
        while (fgets(line, sizeof line, packet)) {
            std::string text = line;
            bool endsLine = !text.empty() && text.back() == '\n';
            if (atLineStart && !text.empty() && text[0] == '.')
                text.insert(text.begin(), '.');
            m_channel.SendLine(text);
            WriteStatusLog(m_console, text);
            atLineStart = endsLine;
        }
    }

    Console& m_console;
    LineChannel m_channel;
    std::string m_server;
    std::string m_reply;
};

} // namespace

int SmtpPort() {
    const char* value = getenv(kSmtpPortVariable);
    if (!value || !*value)
        return kSmtpPort;
    char* end = nullptr;
    long port = strtol(value, &end, 10);
    return *end == '\0' && port > 0 && port <= 65535 ? static_cast<int>(port) : kSmtpPort;
}

int SmtpSend(Console& console, FILE* packet, const std::string& recipient, const std::string& /*sender*/,
             const LineLimits& limits) {
    return SmtpDialogue(console, limits).Run(packet, recipient);
}

} // namespace brimlow
