#include "transports/snpp.h"

#include "queue/queue_writer.h"
#include "queue/status.h"
#include "transports/snpp_session.h"

namespace brimlow {
namespace {

enum class SnppPhase { Greeting, TwoWay, Page, Data, Text, Send };

class SnppDialogue {
public:
    SnppDialogue(Console& console, const SnppPage& page, const LineLimits& limits)
        : m_console(console), m_page(page), m_channel(TraceArea::Snpp, limits),
          m_address(GetText(page.company.Address)) {}

    Delivery Run() {
        m_page.post("Connecting to " + m_address + "...");
        if (!m_channel.Connect(m_address, static_cast<uint16_t>(m_page.company.Socket), m_page.post))
            return Delivery::RetryLater;
        Delivery result = Exchange();
        m_channel.Quit();
        if (result != Delivery::Sent) {
            if (m_failedPhase == SnppPhase::TwoWay)
                m_page.post(kTwoWayRefused);
            return result;
        }
        m_console.sentPages.fetch_add(1);
        m_console.trackingRefresh = 1;
        if (m_page.setBothRefreshFlags)
            m_console.secondRefresh = 1;
        return result;
    }

private:
    Delivery Exchange() {
        bool twoWay = m_page.company.TwoWay != 0;
        if (!Step(SnppPhase::Greeting, "") || (twoWay && !Step(SnppPhase::TwoWay, "2WAY\r\n")) ||
            !Step(SnppPhase::Page, "PAGE " + m_page.pin + "\r\n") || !Step(SnppPhase::Data, "DATA\r\n") ||
            !Step(SnppPhase::Text, SnppDataText(m_page.text) + ".\r\n") || !Step(SnppPhase::Send, "SEND\r\n"))
            return m_failure;
        if (twoWay) {
            TicketNumbers numbers = ParseSendReply(m_reply);
            CreateTicket(m_console, TicketFileName(m_page.subscriberName, numbers, m_page.ticketSource), m_reply,
                         m_page.subscriberName, m_page.pin, m_page.text);
        }
        return Delivery::Sent;
    }

    // Sends the phase's command (none for the greeting), reads its reply and decides by the reply's last line.
    // The text goes as it is; commands go through the line routine.
    bool Step(SnppPhase phase, const std::string& command) {
        if (phase == SnppPhase::Text)
            m_channel.SendRaw(command);
        else if (!command.empty())
            m_channel.SendLine(command);
        std::vector<std::string> lines;
        bool answered = m_channel.ReadReply(lines, kSnppReplySize);
        if (phase != SnppPhase::TwoWay || m_page.postTwoWayReply) {
            for (const std::string& line : lines)
                m_page.post(line);
            if (!answered)
                m_page.post(NoReplyText(m_address));
        }
        m_reply = answered ? lines.back() : std::string();
        if (answered && ReplyOk(m_reply))
            return true;
        m_failure = FailureOf(answered, m_reply);
        m_failedPhase = phase;
        if (phase != SnppPhase::Greeting) // a refused greeting is no page offered
            m_console.failedPages.fetch_add(1);
        return false;
    }

    Console& m_console;
    const SnppPage& m_page;
    LineChannel m_channel;
    std::string m_address;
    std::string m_reply;
    Delivery m_failure = Delivery::RetryLater;
    SnppPhase m_failedPhase = SnppPhase::Greeting;
};

// The PIN becomes an argument of the PAGE command (and a line of the ticket); a line break in it, from a
// record handed over the LAN, must not start a command of its own.
std::string SingleLine(const std::string& text) {
    std::string line = text;
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    return line;
}

SnppPage MakePage(const CompanyRecord& company, const std::string& subscriberName, const std::string& pin,
                  const std::string& text) {
    SnppPage page;
    page.company = company;
    page.subscriberName = subscriberName;
    page.pin = SingleLine(pin);
    page.text = text;
    return page;
}

} // namespace

std::string SnppDataText(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 16);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string_view line(text.data() + start, (end == std::string::npos ? text.size() : end) - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line == ".")
            out += '.';
        out.append(line);
        out += "\r\n";
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

Delivery SendSnppPage(Console& console, const SnppPage& page, const LineLimits& limits) {
    return SnppDialogue(console, page, limits).Run();
}

bool SendSnppNow(Console& console, const ComposedPage& composed, const std::string& subscriberName,
                 const std::string& pin, int companyIndex) {
    if (!IsValidCompanyIndex(companyIndex))
        return false;
    bool network = composed.currentTab == kNetworkTab;
    std::string text = PageText(console, composed);
    CompanyRecord company;
    {
        std::lock_guard lock(console.databaseLock);
        company = console.DirectoryForTab(composed.currentTab).companies[companyIndex];
    }
    SnppPage page = MakePage(company, subscriberName, pin, text);
    page.ticketSource.form = network ? TicketSource::Form::NetworkIndex : TicketSource::Form::LocalIndex;
    page.ticketSource.companyIndex = companyIndex;
    page.post = [&console](const std::string& line) { console.op->AddResultLine(line); };
    page.postTwoWayReply = true;
    page.setBothRefreshFlags = false;
    return SendSnppPage(console, page) == Delivery::Sent;
}

Delivery DeliverSnppByIndex(Console& console, const std::string& subscriberName, const std::string& pin,
                            int companyIndex, const std::string& text, const std::string& owner) {
    if (!IsValidCompanyIndex(companyIndex))
        return Delivery::Refused;
    CompanyRecord company;
    {
        std::lock_guard lock(console.databaseLock);
        company = console.local->companies[companyIndex];
    }
    SnppPage page = MakePage(company, subscriberName, pin, text);
    page.ticketSource.companyIndex = companyIndex;
    page.ticketSource.owner = owner;
    page.post = [&console](const std::string& line) { PostStatus(console, line); };
    return SendSnppPage(console, page);
}

bool SendSnppByIndex(Console& console, const std::string& subscriberName, const std::string& pin, int companyIndex,
                     const std::string& text, const std::string& owner) {
    return DeliverSnppByIndex(console, subscriberName, pin, companyIndex, text, owner) == Delivery::Sent;
}

bool SendSnppByRecord(Console& console, const CompanyRecord& company, const std::string& subscriberName,
                      const std::string& pin, const std::string& text, const std::string& owner) {
    SnppPage page = MakePage(company, subscriberName, pin, text);
    page.ticketSource.form = TicketSource::Form::Host;
    page.ticketSource.address = GetText(company.Address);
    page.ticketSource.port = static_cast<uint16_t>(company.Socket);
    page.ticketSource.owner = owner;
    page.post = [&console](const std::string& line) { PostStatus(console, line); };
    return SendSnppPage(console, page) == Delivery::Sent;
}

} // namespace brimlow
