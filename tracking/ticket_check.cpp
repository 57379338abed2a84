#include "tracking/ticket_check.h"

#include "queue/status.h"
#include "tracking/ticket.h"
#include "tracking/unread_mark.h"

#include <algorithm>
#include <cinttypes>
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

} // namespace

std::optional<TicketTarget> ParseTicketName(const std::string& name) {
    size_t dot = name.find('.');
    if (dot == std::string::npos)
        return std::nullopt;
    const char* rest = name.c_str() + dot + 1;
    TicketTarget target;
    if (std::count(name.begin(), name.end(), '-') == 3) {
        char hostAndPort[256] = {};
        if (sscanf(rest, "%" SCNu64 ".%d-%255s", &target.tag, &target.pass, hostAndPort) != 3)
            return std::nullopt;
        std::string tail = hostAndPort;
        size_t dash = tail.find('-');
        target.hostForm = true;
        target.host = tail.substr(0, dash);
        target.port = dash == std::string::npos ? 0 : atoi(tail.c_str() + dash + 1);
        return target;
    }
    if (sscanf(rest, "%" SCNu64 ".%d.%d", &target.tag, &target.pass, &target.companyIndex) != 3 ||
        !IsValidCompanyIndex(target.companyIndex))
        return std::nullopt;
    target.networkDirectory = name.back() == 'N';
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

void StartCheckTicketJob(Console& console, HandoffBuffer& ticketName) {
    console.StartWorker([&console, &ticketName] {
        std::string name = ticketName.Take();
        CheckTicket(console, name);
    });
}

} // namespace brimlow
