#include "queue/email_packet.h"

#include "directory/data_files.h"
#include "queue/message_file.h"
#include "queue/status.h"
#include "queue/unique_name.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace brimlow {
namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool WriteAll(int fd, const std::string& bytes) {
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

void ReportUncreated(Console& console) {
    PostStatus(console, "Unable to create message packet!");
    PostStatus(console, "Please make sure that the queue directory exists!");
}

void Discard(int fd, const std::string& path) {
    close(fd);
    unlink(path.c_str());
}

} // namespace

std::string FormatEmailDate(const struct tm& local, long biasMinutes) {
    long magnitude = labs(biasMinutes);
    char text[64];
    snprintf(text, sizeof text, "%s, %d %s %4d %d:%02d:00 %c%02ld%02ld", kDayNames[local.tm_wday % 7],
             local.tm_mday, kMonthNames[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min,
             biasMinutes <= 0 ? '+' : '-', magnitude / 60, magnitude % 60);
    return text;
}

long StandardTimeBiasMinutes() {
    tzset();
    return timezone / 60;
}

std::string HeaderValue(const std::string& text) {
    std::string value = text;
    for (char& c : value)
        if (c == '\r' || c == '\n')
            c = ' ';
    return value;
}

std::string EmailPacketHead(const Settings& settings, const SubscriberRecord& record, const std::string& subject,
                            const std::string& dateText) {
    const std::string returnAddress = HeaderValue(settings.ReturnAddress);
    const std::string email = HeaderValue(GetText(record.Email));
    const std::string name = HeaderValue(GetText(record.Name));
    std::string head = "<" + returnAddress + ">\n<" + email + ">\n";
    head += "X-Sender: " + returnAddress + "\nX-Mailer: " + kMailer + "\nDate: " + dateText + "\n";
    head += name.empty() ? "To: <" + email + ">\n" : "To: " + name + " <" + email + ">\n";
    head += "From: " + HeaderValue(settings.UserName) + " <" + returnAddress + ">\n";
    if (!subject.empty())
        head += "Subject: " + HeaderValue(subject) + "\n";
    head += "Mime-Version: 1.0\nContent-Type: text/plain; charset=\"us-ascii\"\n\n";
    return head;
}

int WriteEmailPacket(Console& console, SubscriberRecord record, const std::string& subject, const std::string& text) {
    std::string path = JoinPath(console.dataDir, std::string(kEmailPrefix) + kNameTemplate);
    // Written aside and named once whole: a send-queue worker may list the packets at any moment.
    std::string staging;
    int fd = CreateStagingFile(path, staging);
    if (fd < 0) {
        ReportUncreated(console);
        return 0;
    }
    time_t now = console.clock->Now();
    struct tm local{};
    localtime_r(&now, &local);
    std::string date = FormatEmailDate(local, StandardTimeBiasMinutes());
    if (!WriteAll(fd, EmailPacketHead(console.settings.Get(), record, subject, date))) {
        PostStatus(console, "Error writing packet file!");
        Discard(fd, staging);
        return 0;
    }
    if (!WriteAll(fd, text)) {
        PostStatus(console, "Error writting packet file!");
        Discard(fd, staging);
        return 0;
    }
    WriteAll(fd, "\n");
    close(fd);
    if (!PublishUniqueFile(console, staging, path)) {
        ReportUncreated(console);
        return 0;
    }
    return 1;
}

} // namespace brimlow
