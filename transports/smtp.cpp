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

    Delivery Run(FILE* packet, const std::string& recipient) {
        Settings settings = m_console.settings.Get();
        m_server = settings.OutboundMailServer.substr(0, kMailServerNameLimit);
        Post("Connecting to " + m_server + "...");
        if (!m_channel.Connect(m_server, SmtpPort(), [this](const std::string& line) { Post(line); }))
            return Delivery::RetryLater;
        Delivery result = Exchange(packet, HeaderValue(settings.ReturnAddress), recipient);
        m_channel.Quit();
        if (result == Delivery::Sent)
            m_console.sentPages.fetch_add(1);
        return result;
    }

private:
    void Post(const std::string& line) { PostStatus(m_console, line); }

    Delivery Exchange(FILE* packet, const std::string& sender, const std::string& recipient) {
        if (!Step(SmtpPhase::Greeting, "") || !Step(SmtpPhase::Helo, std::string("HELO ") + kMailDomain + "\r\n") ||
            !Step(SmtpPhase::MailFrom, "MAIL FROM:<" + sender + ">\r\n") ||
            !Step(SmtpPhase::RcptTo, "RCPT TO:" + recipient + "\r\n") || !Step(SmtpPhase::Data, "DATA\r\n"))
            return m_failure;
        SendBody(packet);
        return Step(SmtpPhase::EndOfData, "\r\n.\r\n") ? Delivery::Sent : m_failure;
    }

    // Sends the phase's command, reads its reply, posts both and decides by the reply's last line.
    bool Step(SmtpPhase phase, const std::string& command) {
        if (!command.empty())
            m_channel.SendLine(command);
        std::vector<std::string> lines;
        bool answered = m_channel.ReadReply(lines, kSmtpReplySize);
        if (phase != SmtpPhase::Greeting && phase != SmtpPhase::EndOfData)
            Post(command);
        for (const std::string& line : lines)
            Post(line);
        if (!answered)
            Post(NoReplyText(m_server));
        if (answered && ReplyOk(lines.back()))
            return true;
        m_failure = FailureOf(answered, answered ? lines.back() : std::string());
        if (phase != SmtpPhase::Greeting) // a refused greeting is no message offered
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
    Delivery m_failure = Delivery::RetryLater;
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

Delivery SmtpSend(Console& console, FILE* packet, const std::string& recipient, const std::string& /*sender*/,
                  const LineLimits& limits) {
    return SmtpDialogue(console, limits).Run(packet, recipient);
}

} // namespace brimlow
