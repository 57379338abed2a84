#include "tracking/ticket_check.h"

#include "queue/status.h"
#include "tracking/ticket.h"
#include "tracking/unread_mark.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace brimlow {
namespace {

struct Server {
    std::string address;
    int port = 0;
    std::string label; // the host, or the company's Name
};

Server ServerOf(Console& console, const TicketTarget& target) {
    if (target.hostForm)
        return Server{target.host, target.port, target.host};
    std::lock_guard lock(console.databaseLock);
    const Directory& dir = target.networkDirectory ? *console.network : *console.local;
    const CompanyRecord& company = dir.companies[target.companyIndex];
    return Server{GetText(company.Address), static_cast<uint16_t>(company.Socket), GetText(company.Name)};
}

int StoredCount(int fd) {
    char head[kTicketCountHeadSize + 1] = {};
    ssize_t n = read(fd, head, kTicketCountHeadSize);
    return n > 0 ? atoi(head) : 0;
}

void RewriteCount(int fd, int count) {
    char line[16];
    int n = snprintf(line, sizeof line, "%04d\r\n", count);
    [[maybe_unused]] ssize_t written = pwrite(fd, line, static_cast<size_t>(n), 0);
}

// The decimal digits at the front of text, at most max; false when there are none or the number is larger.
bool TakeNumber(std::string_view& text, uint64_t max, uint64_t& value) {
    size_t n = 0;
    value = 0;
    for (; n < text.size() && text[n] >= '0' && text[n] <= '9'; ++n) {
        uint64_t digit = static_cast<uint64_t>(text[n] - '0');
        if (value > (max - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    text.remove_prefix(n);
    return n > 0;
}

bool TakeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c)
        return false;
    text.remove_prefix(1);
    return true;
}

} // namespace

std::optional<TicketTarget> ParseTicketName(const std::string& name) {
    size_t dot = name.find('.');
    if (dot == std::string::npos)
        return std::nullopt;
    std::string_view rest = std::string_view(name).substr(dot + 1);
    TicketTarget target;
    uint64_t pass = 0, index = 0, port = 0;
    bool negative = false;
    if (!TakeNumber(rest, UINT64_MAX, target.tag) || !TakeChar(rest, '.'))
        return std::nullopt;
    negative = TakeChar(rest, '-');
    if (!TakeNumber(rest, negative ? uint64_t{INT_MAX} + 1 : INT_MAX, pass))
        return std::nullopt;
    target.pass = static_cast<int>(negative ? -static_cast<int64_t>(pass) : static_cast<int64_t>(pass));
    if (TakeChar(rest, '.')) {
        if (!TakeNumber(rest, kCompanySlots - 1, index))
            return std::nullopt;
        target.companyIndex = static_cast<int>(index);
        target.networkDirectory = rest == "N";
        if (target.networkDirectory)
            rest = {};
    } else {
        size_t dash = TakeChar(rest, '-') ? rest.find('-') : std::string_view::npos;
        if (dash == std::string_view::npos)
            return std::nullopt;
        target.hostForm = true;
        target.host = rest.substr(0, dash);
        std::replace(target.host.begin(), target.host.end(), ' ', '-');
        rest.remove_prefix(dash + 1);
        if (!TakeNumber(rest, UINT16_MAX, port))
            return std::nullopt;
        target.port = static_cast<int>(port);
    }
    if (!rest.empty() && (!TakeChar(rest, '-') || rest.empty()))
        return std::nullopt;
    target.owner = rest;
    return target;
}

bool CheckTicket(Console& console, const std::string& name, const LineLimits& limits) {
    std::optional<TicketTarget> target = ParseTicketName(name);
    if (!target)
        return false;
    Server server = ServerOf(console, *target);
    auto post = [&console](const std::string& line) { PostStatus(console, line); };
    post("Checking status of PIN: " + std::to_string(target->tag) + "  Tracking: " + std::to_string(target->pass) +
         "  Company: " + server.label);

    LineChannel channel(TraceArea::Snpp, limits);
    if (!channel.Connect(server.address, server.port, post))
        return false;
    std::vector<std::string> greeting;
    if (!channel.ReadReply(greeting, kGreetingSize) || !ReplyOk(greeting.back())) {
        channel.Quit();
        return false;
    }
    channel.SendLine("MSTA " + std::to_string(target->tag) + "." + std::to_string(target->pass) + "\r\n");

    std::string path = TicketPath(console, name);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    int stored = fd >= 0 ? StoredCount(fd) : 0;
    // A ticket that vanished starts again with its count line, so that rewriting the count spoils no reply.
    if (fd >= 0 && lseek(fd, 0, SEEK_END) == 0) {
        RewriteCount(fd, 0);
        lseek(fd, 0, SEEK_END);
    }
    std::string line;
    int received = 0;
    while (received < kMaxStoredReplies) {
        channel.ReadTimedLine(line, kStatusReplySize);
        if (line.empty() || ReplyCode(line) == kStatusListEndCode)
            break;
        if (++received > stored) {
            post(line);
            std::string entry = line + "\r\n";
            if (fd >= 0) {
                [[maybe_unused]] ssize_t written = write(fd, entry.data(), entry.size());
            }
        }
    }
    if (fd >= 0) {
        if (received > stored)
            RewriteCount(fd, received);
        close(fd);
    }
    if (received > stored) {
        if (!SetUnreadMark(path)) {
            post("Unable to set file attributes");
            post(path);
        }
        console.trackingRefresh = 1;
        console.secondRefresh = 1;
        console.received = 1;
    }
    channel.Quit();
    return true;
}

bool StartCheckTicketJob(Console& console, HandoffBuffer& ticketName) {
    bool started = console.StartWorker([&console, &ticketName] {
        std::string name = ticketName.Take();
        CheckTicket(console, name);
    });
    if (!started)
        ticketName.Take(); // so that the starter's wait for the job ends
    return started;
}

} // namespace brimlow
