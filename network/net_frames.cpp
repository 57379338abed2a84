#include "network/net_frames.h"

#include "directory/csv.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace brimlow {
namespace {

std::string Padded(const std::string& text, size_t width, char pad) {
    std::string field = text.substr(0, width);
    field.resize(width, pad);
    return field;
}

// A NUL-terminated, NUL-padded field of width bytes holding at most width - 1 of text.
std::string TextField(const std::string& text, size_t width) { return Padded(text.substr(0, width - 1), width, '\0'); }

std::string Int32(int32_t value) {
    std::string bytes(4, '\0');
    memcpy(bytes.data(), &value, 4);
    return bytes;
}

template <typename T> std::string Bytes(const T& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

std::string FourDigits(int value) {
    char digits[16];
    snprintf(digits, sizeof digits, "%04d", value);
    return std::string(digits).substr(0, 4);
}

// Records leave without a lock byte: the server stores the carried one, and only it may lock.
std::string UnlockedBytes(SubscriberRecord record) {
    record.LockByte = 0;
    return Bytes(record);
}

int32_t ClampedNumber(const std::string& text) {
    long long value = strtoll(text.c_str(), nullptr, 10);
    return static_cast<int32_t>(value < INT32_MIN ? INT32_MIN : value > INT32_MAX ? INT32_MAX : value);
}

} // namespace

int LanPort() {
    const char* text = getenv(kLanPortVariable);
    if (text && *text) {
        char* end = nullptr;
        long port = strtol(text, &end, 10);
        if (*end == '\0' && port > 0 && port < 65536)
            return static_cast<int>(port);
    }
    return kLanDefaultPort;
}

std::string Frame(char code, const std::string& body) {
    std::string frame;
    frame.reserve(body.size() + 3);
    frame.push_back(kSoh);
    frame.push_back(code);
    frame += body;
    frame.push_back(kEtx);
    return frame;
}

std::string IndexFrame(char code, int index) { return Frame(code, std::to_string(index)); }

std::string LoginFrame(const std::string& username, const std::string& password) {
    return Frame('0', Padded(username, kLoginFieldSize, ' ') + Padded(password, kLoginFieldSize, ' '));
}

std::string WriteSubscriberFrame(int slot, const SubscriberRecord& record) {
    return Frame('1', FourDigits(slot) + UnlockedBytes(record));
}

std::string AddSubscriberFrame(const SubscriberRecord& record) { return Frame('<', "0000" + UnlockedBytes(record)); }

std::string WriteGroupFrame(int group, const GroupRecord& record) {
    return Frame(':', FourDigits(group) + Bytes(record));
}

std::string AddGroupFrame(int scratchGroup, const std::string& name, const GroupRecord& record) {
    return Frame('=', FourDigits(scratchGroup) + Padded(name, kGroupNameFieldSize, ' ') + Bytes(record));
}

std::string ServerPageFrame(int slot, PageType type, const std::string& subject, const std::string& message) {
    return Frame('B', Int32(slot) + Int32(static_cast<int32_t>(type)) + TextField(subject, kPageSubjectSize) +
                          TextField(message, kPageMessageSize));
}

std::string ClientPageFrame(PageType type, const std::string& username, const std::string& subject,
                            const std::string& message, const CompanyRecord& company,
                            const SubscriberRecord& subscriber) {
    return Frame('C', std::string(2, '\0') + Int32(static_cast<int32_t>(type)) + TextField(username, kPageUserSize) +
                          TextField(subject, kPageSubjectSize) + TextField(message, kPageMessageSize) +
                          std::string(1, '\0') + Bytes(company) + UnlockedBytes(subscriber));
}

std::string FetchTicketFrame(const std::string& name) { return Frame('F', name); }

SubscriberRecord DecodeCustomerText(const std::string& text) {
    std::vector<std::string> fields = SplitQuotedFields(NormalizeBlanks(text));
    fields.resize(14);
    SubscriberRecord record{};
    SetText(record.Name, fields[0]);
    SetText(record.PIN, fields[1]);
    record.Company = ClampedNumber(fields[2]);
    SetText(record.CompanyName, fields[4]);
    SetText(record.Address, fields[5]);
    SetText(record.City, fields[6]);
    SetText(record.State, fields[7]);
    SetText(record.ZIP, fields[8]);
    SetText(record.WorkPhone, fields[9]);
    SetText(record.HomePhone, fields[10]);
    SetText(record.FAX, fields[11]);
    SetText(record.Cell, fields[12]);
    SetText(record.Email, fields[13]);
    record.Tab = 3; // whatever the server's tab, the entry belongs to the Network tab here
    return record;
}

int ParseDigits(const char* bytes, size_t size) {
    if (size == 0 || size > 9)
        return -1;
    int value = 0;
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] < '0' || bytes[i] > '9')
            return -1;
        value = value * 10 + (bytes[i] - '0');
    }
    return value;
}

bool IsSafeTicketName(const std::string& name) {
    if (name.empty() || name.size() >= sizeof(FileFindRecord::name) || name == "." || name == "..")
        return false;
    for (char c : name)
        if (c == '/' || c == '\\' || c == '\0' || c == kEtx)
            return false;
    return true;
}

} // namespace brimlow
