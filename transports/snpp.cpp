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

    bool Run() {
        m_page.post("Connecting to " + m_address + "...");
        if (!m_channel.Connect(m_address, static_cast<uint16_t>(m_page.company.Socket), m_page.post))
            return false;
        if (!Step(SnppPhase::Greeting, ""))
            return false;
        bool twoWay = m_page.company.TwoWay != 0;
        if (twoWay && !Step(SnppPhase::TwoWay, "2WAY\r\n"))
            return false;
        if (!Step(SnppPhase::Page, "PAGE " + m_page.pin + "\r\n") || !Step(SnppPhase::Data, "DATA\r\n") ||
            !Step(SnppPhase::Text, SnppDataText(m_page.text) + "\r\n.\r\n") || !Step(SnppPhase::Send, "SEND\r\n"))
            return false;
        if (twoWay) {
            TicketNumbers numbers = ParseSendReply(m_reply);
            CreateTicket(m_console, TicketFileName(m_page.subscriberName, numbers, m_page.ticketSource), m_reply,
                         m_page.subscriberName, m_page.pin, m_page.text);
        }
        m_channel.SendLine("QUIT\r\n");
        m_channel.ReadReply(m_reply, kSnppReplySize);
        m_console.sentPages.fetch_add(1);
        m_channel.Close();
        m_console.trackingRefresh = 1;
        if (m_page.setBothRefreshFlags)
            m_console.secondRefresh = 1;
        return true;
    }

private:
    // Sends the phase's command (none for the greeting), reads its reply and decides. The text goes as it is;
    // commands go through the line routine.
    bool Step(SnppPhase phase, const std::string& command) {
        if (phase == SnppPhase::Text)
            m_channel.SendRaw(command);
        else if (!command.empty())
            m_channel.SendLine(command);
        bool answered = m_channel.ReadReply(m_reply, kSnppReplySize) >= 0;
        if (phase != SnppPhase::TwoWay || m_page.postTwoWayReply)
            m_page.post(answered ? m_reply : NoReplyText(m_address));
        if (answered && ReplyOk(m_reply))
            return true;
        if (phase == SnppPhase::Greeting)
            return false; // not counted: nothing was offered yet
        m_console.failedPages.fetch_add(1);
        m_channel.Close();
        if (phase == SnppPhase::TwoWay)
            m_page.post(kTwoWayRefused);
        return false;
    }

    Console& m_console;
    const SnppPage& m_page;
    LineChannel m_channel;
    std::string m_address;
    std::string m_reply;
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
    out.reserve(text.size() + 8);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string_view line(text.data() + start, (end == std::string::npos ? text.size() : end) - start);
        if (line == "." || line == ".\r")
            out += '.';
        out.append(line);
        if (end == std::string::npos)
            break;
        out += '\n';
        start = end + 1;
    }
    return out;
}

bool SendSnppPage(Console& console, const SnppPage& page, const LineLimits& limits) {
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
    return SendSnppPage(console, page);
}

bool SendSnppByIndex(Console& console, const std::string& subscriberName, const std::string& pin, int companyIndex,
                     const std::string& text, const std::string& owner) {
    if (!IsValidCompanyIndex(companyIndex))
        return false;
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

bool SendSnppByRecord(Console& console, const CompanyRecord& company, const std::string& subscriberName,
                      const std::string& pin, const std::string& text, const std::string& owner) {
    SnppPage page = MakePage(company, subscriberName, pin, text);
    page.ticketSource.form = TicketSource::Form::Host;
    page.ticketSource.address = GetText(company.Address);
    page.ticketSource.port = static_cast<uint16_t>(company.Socket);
    page.ticketSource.owner = owner;
    page.post = [&console](const std::string& line) { PostStatus(console, line); };
    return SendSnppPage(console, page);
}

} // namespace brimlow
