#include "tracking/ticket.h"

#include "directory/data_files.h"
#include "queue/file_listing.h"
#include "tracking/unread_mark.h"

#include <cinttypes>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace brimlow {

TicketNumbers ParseSendReply(const std::string& reply) {
    int code = 0;
    TicketNumbers numbers;
    if (sscanf(reply.c_str(), "%d %" SCNu64 " %d", &code, &numbers.tag, &numbers.pass) != 3)
        return {};
    return numbers;
}

std::string TicketNamePart(const std::string& text) {
    std::string part = text;
    for (char& c : part)
        if (c == '.' || c == '/')
            c = ' ';
    return part;
}

std::string TicketAddressPart(const std::string& address) {
    std::string part = address;
    for (char& c : part)
        if (c == '-' || c == '/')
            c = ' ';
    return part;
}

std::string LowerAscii(const std::string& text) {
    std::string lower = text;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

std::string OwnerSuffix(const std::string& owner) {
    if (owner.empty())
        return {};
    std::string suffix = "-" + LowerAscii(owner);
    for (char& c : suffix)
        if (c == '/')
            c = ' ';
    return suffix;
}

std::string TicketFileName(const std::string& subscriberName, const TicketNumbers& numbers,
                           const TicketSource& source) {
    std::string name = TicketNamePart(subscriberName) + "." + std::to_string(numbers.tag) + "." +
                       std::to_string(numbers.pass);
    switch (source.form) {
    case TicketSource::Form::LocalIndex:
        return name + "." + std::to_string(source.companyIndex) + OwnerSuffix(source.owner);
    case TicketSource::Form::NetworkIndex:
        return name + "." + std::to_string(source.companyIndex) + "N";
    case TicketSource::Form::Host:
        return name + "-" + TicketAddressPart(source.address) + "-" + std::to_string(source.port) +
               OwnerSuffix(source.owner);
    }
    return name;
}

std::string TicketPath(const Console& console, const std::string& fileName) {
    return JoinPath(JoinPath(console.dataDir, kTrackingFolder), fileName);
}

bool CreateTicket(Console& console, const std::string& fileName, const std::string& sendReply,
                  const std::string& subscriberName, const std::string& pin, const std::string& text) {
    MakeFolder(JoinPath(console.dataDir, kTrackingFolder));
    std::string path = TicketPath(console, fileName);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    time_t now = console.clock->Now();
    char date[32] = {};
    ctime_r(&now, date);
    std::string content = "0000\r\n";
    content += sendReply.substr(0, sendReply.find_first_of("\r\n")) + "\r\n";
    content += std::string(date, 24) + "\r\n";
    content += TicketNamePart(subscriberName) + "\r\n";
    content += pin + "\r\n";
    content += text + "\r\n";
    // The write results are not checked: a short ticket still names its server.
    [[maybe_unused]] ssize_t written = write(fd, content.data(), content.size());
    close(fd);
    SetUnreadMark(path);
    return true;
}

} // namespace brimlow
