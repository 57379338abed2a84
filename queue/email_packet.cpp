#include "queue/email_packet.h"

#include "directory/data_files.h"
#include "queue/message_file.h"
#include "queue/mime_text.h"
#include "queue/status.h"
#include "queue/unique_name.h"

#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <random>
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

// A header text as it stands when it is ASCII, else as encoded words.
std::string Displayed(const std::string& text) { return HasHighBytes(text) ? EncodedWords(text) : text; }

bool NeedsQuotedPrintable(const std::string& text) { return HasHighBytes(text) || HasOverlongLine(text); }

} // namespace

std::string FormatEmailDate(const struct tm& local) {
    long offsetMinutes = local.tm_gmtoff / 60; // the offset in force at that moment, daylight saving included
    long magnitude = labs(offsetMinutes);
    char text[64];
    snprintf(text, sizeof text, "%s, %d %s %4d %02d:%02d:00 %c%02ld%02ld", kDayNames[local.tm_wday % 7],
             local.tm_mday, kMonthNames[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min,
             offsetMinutes >= 0 ? '+' : '-', magnitude / 60, magnitude % 60);
    return text;
}

std::string MakeMessageId(const struct tm& local, const std::string& returnAddress) {
    size_t at = returnAddress.rfind('@');
    std::string domain = at == std::string::npos ? "" : returnAddress.substr(at + 1);
    bool usable = !domain.empty();
    for (char c : domain)
        usable = usable && (isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-');
    std::random_device random;
    char text[160];
    snprintf(text, sizeof text, "<%04d%02d%02d%02d%02d%02d.%08x%08x@%s>", local.tm_year + 1900, local.tm_mon + 1,
             local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, random(), random(),
             usable ? domain.substr(0, 100).c_str() : kMailDomain);
    return text;
}

std::string HeaderValue(const std::string& text) {
    std::string value = text;
    for (char& c : value)
        if (c == '\r' || c == '\n')
            c = ' ';
    return value;
}

std::string EmailPacketHead(const Settings& settings, const SubscriberRecord& record, const std::string& subject,
                            const std::string& text, const std::string& dateText, const std::string& messageId) {
    const std::string returnAddress = HeaderValue(settings.ReturnAddress);
    const std::string email = HeaderValue(GetText(record.Email));
    const std::string name = Displayed(HeaderValue(GetText(record.Name)));
    std::string head = "<" + returnAddress + ">\n<" + email + ">\n";
    head += "X-Sender: " + returnAddress + "\nX-Mailer: " + kMailer + "\nDate: " + dateText + "\n";
    head += "Message-ID: " + messageId + "\n";
    head += name.empty() ? "To: <" + email + ">\n" : "To: " + name + " <" + email + ">\n";
    head += "From: " + Displayed(HeaderValue(settings.UserName)) + " <" + returnAddress + ">\n";
    if (!subject.empty())
        head += "Subject: " + Displayed(HeaderValue(subject)) + "\n";
    bool latin1 = HasHighBytes(text) || HasHighBytes(subject);
    head += std::string("Mime-Version: 1.0\nContent-Type: text/plain; charset=\"") +
            (latin1 ? "ISO-8859-1" : "us-ascii") + "\"\n";
    if (NeedsQuotedPrintable(text))
        head += "Content-Transfer-Encoding: quoted-printable\n";
    return head + "\n";
}

std::string EmailPacketText(const std::string& text) {
    return NeedsQuotedPrintable(text) ? QuotedPrintable(text) : text;
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
    const Settings settings = console.settings.Get();
    std::string head = EmailPacketHead(settings, record, subject, text, FormatEmailDate(local),
                                       MakeMessageId(local, HeaderValue(settings.ReturnAddress)));
    if (!WriteAll(fd, head)) {
        PostStatus(console, "Error writing packet file!");
        Discard(fd, staging);
        return 0;
    }
    if (!WriteAll(fd, EmailPacketText(text) + "\n")) {
        PostStatus(console, "Error writting packet file!");
        Discard(fd, staging);
        return 0;
    }
    close(fd);
    if (!PublishUniqueFile(console, staging, path)) {
        ReportUncreated(console);
        return 0;
    }
    return 1;
}

} // namespace brimlow
