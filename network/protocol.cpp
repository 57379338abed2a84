#include "network/protocol.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace brimlow::lan {

namespace {

std::string Frame(Request code, std::string_view body) {
    std::string frame;
    frame.reserve(body.size() + 3);
    frame += kSoh;
    frame += static_cast<char>(code);
    frame.append(body);
    frame += kEtx;
    return frame;
}

std::string Padded(std::string_view text, size_t width, char pad) {
    std::string field(text.substr(0, width));
    field.resize(width, pad);
    return field;
}

// A fixed NUL-padded field of width bytes holding at most width - 1 characters.
std::string NulField(std::string_view text, size_t width) { return Padded(text.substr(0, width - 1), width, '\0'); }

std::string Digits4(int value) {
    char text[16];
    snprintf(text, sizeof text, "%04d", value);
    return text;
}

std::string Int32Bytes(int32_t value) {
    std::string bytes(4, '\0');
    memcpy(bytes.data(), &value, 4);
    return bytes;
}

int32_t Int32At(std::string_view frame, size_t offset) {
    int32_t value;
    memcpy(&value, frame.data() + offset, 4);
    return value;
}

// A NUL-terminated text field: a sender that fills it to its last byte gets its text cut there, as a record's
// text field is, so no text is longer than its field holds with the NUL.
std::string TextAt(std::string_view frame, size_t offset, size_t width) {
    std::string_view field = frame.substr(offset, width - 1);
    return std::string(field.substr(0, field.find('\0')));
}

std::string CutAtSpace(std::string_view field) { return std::string(field.substr(0, field.find(' '))); }

bool IsFramedAs(std::string_view frame, size_t size) {
    return frame.size() == size && frame[size - 1] == kEtx;
}

// Records from the wire may fill a text field to its last byte; every field ends with a NUL before use.
template <size_t N> void Terminate(char (&field)[N]) { field[N - 1] = '\0'; }

void TerminateTexts(SubscriberRecord& r) {
    Terminate(r.Name);
    Terminate(r.CompanyName);
    Terminate(r.Address);
    Terminate(r.City);
    Terminate(r.State);
    Terminate(r.ZIP);
    Terminate(r.WorkPhone);
    Terminate(r.HomePhone);
    Terminate(r.FAX);
    Terminate(r.Cell);
    Terminate(r.Email);
    Terminate(r.PIN);
}

void TerminateTexts(CompanyRecord& r) {
    Terminate(r.Name);
    Terminate(r.Address);
    Terminate(r.Phone);
}

void TerminateTexts(GroupRecord& r) {
    for (auto& member : r.Members)
        Terminate(member);
}

template <typename Record> std::string_view RecordBytes(const Record& record) {
    return std::string_view(reinterpret_cast<const char*>(&record), sizeof record);
}

} // namespace

int LanPortFromEnvironment() {
    const char* text = getenv(kLanPortEnv);
    if (!text || !*text)
        return kLanPort;
    char* end = nullptr;
    long port = strtol(text, &end, 10);
    return *end == '\0' && port > 0 && port <= 65535 ? static_cast<int>(port) : kLanPort;
}

const char* RequestMonitorName(char code) {
    switch (code) {
    case '1': return "Write Customer";
    case '2': return "Read Customer";
    case '3': return "Read Group";
    case '4': return "Lock Record";
    case '5': return "Unlock Record";
    case '6': return "Lock Owner";
    case '7': return "Is Group";
    case '8': return "Check Cust";
    case '9': return "Check Group";
    case ':': return "Write Group";
    case ';': return "Delete Cust";
    case '<': return "Add Customer";
    case '=': return "Add Group";
    case '?': return "Read Company";
    default: return nullptr;
    }
}

size_t FixedFrameSize(char code) {
    switch (static_cast<Request>(code)) {
    case Request::Login: return kLoginFrameSize;
    case Request::WriteCustomer:
    case Request::AddCustomer: return kWriteCustomerFrameSize;
    case Request::WriteGroup: return kWriteGroupFrameSize;
    case Request::AddGroup: return kAddGroupFrameSize;
    case Request::ServerPage: return kServerPageFrameSize;
    case Request::ClientPage: return kClientPageFrameSize;
    case Request::CheckCust:
    case Request::CheckGroup:
    case Request::SecurityLevel:
    case Request::Ping:
    case Request::FirstTicket:
    case Request::NextTicket: return kEmptyFrameSize;
    default: return 0;
    }
}

FrameScan ScanFrame(const char* data, size_t n) {
    FrameScan scan;
    size_t at = 0;
    while (at < n) {
        const char* soh = static_cast<const char*>(memchr(data + at, kSoh, n - at));
        if (!soh) {
            scan.skip = n;
            return scan;
        }
        at = static_cast<size_t>(soh - data);
        scan.skip = at;
        size_t have = n - at;
        if (have < 2)
            return scan;
        size_t fixed = FixedFrameSize(data[at + 1]);
        if (fixed) {
            if (have < fixed)
                return scan;
            if (data[at + fixed - 1] == kEtx) {
                scan.length = fixed;
                scan.complete = true;
                return scan;
            }
        } else {
            // Digits and ticket names hold neither SOH nor ETX: a SOH before the ETX starts the next request.
            size_t window = have < kVariableFrameLimit ? have : kVariableFrameLimit;
            size_t end = 2;
            while (end < window && data[at + end] != kEtx && data[at + end] != kSoh)
                ++end;
            if (end < window && data[at + end] == kEtx) {
                scan.length = end + 1;
                scan.complete = true;
                return scan;
            }
            if (end == window && have < kVariableFrameLimit)
                return scan;
        }
        at += 1; // this SOH starts no frame: look for the next one
    }
    scan.skip = n;
    return scan;
}

std::string EncodeLogin(std::string_view user, std::string_view password) {
    return Frame(Request::Login, Padded(user, kLoginFieldSize, ' ') + Padded(password, kLoginFieldSize, ' '));
}

std::string EncodeEmpty(Request code) { return Frame(code, {}); }

std::string EncodeIndex(Request code, int index) { return Frame(code, std::to_string(index)); }

std::string EncodeWriteCustomer(int slot, const SubscriberRecord& record) {
    return Frame(Request::WriteCustomer, Digits4(slot) + std::string(RecordBytes(record)));
}

std::string EncodeAddCustomer(const SubscriberRecord& record) {
    return Frame(Request::AddCustomer, "0000" + std::string(RecordBytes(record)));
}

std::string EncodeWriteGroup(int group, const GroupRecord& record) {
    return Frame(Request::WriteGroup, Digits4(group) + std::string(RecordBytes(record)));
}

std::string EncodeAddGroup(int scratchGroup, std::string_view name, const GroupRecord& record) {
    return Frame(Request::AddGroup,
                 Digits4(scratchGroup) + Padded(name, kGroupNameFieldSize, ' ') + std::string(RecordBytes(record)));
}

std::string EncodeServerPage(int32_t slot, int32_t pageType, std::string_view subject, std::string_view message) {
    return Frame(Request::ServerPage, Int32Bytes(slot) + Int32Bytes(pageType) + NulField(subject, kPageSubjectSize) +
                                          NulField(message, kPageMessageSize));
}

std::string EncodeClientPage(int32_t pageType, std::string_view userName, std::string_view subject,
                             std::string_view message, const CompanyRecord& company,
                             const SubscriberRecord& subscriber) {
    std::string body(2, '\0');
    body += Int32Bytes(pageType);
    body += NulField(userName, kClientUserNameSize);
    body += NulField(subject, kPageSubjectSize);
    body += NulField(message, kPageMessageSize);
    body += '\0';
    body += RecordBytes(company);
    body += RecordBytes(subscriber);
    return Frame(Request::ClientPage, body);
}

std::string EncodeFetchTicket(std::string_view name) { return Frame(Request::FetchTicket, name); }

bool DecodeLogin(std::string_view frame, LoginRequest& out) {
    if (!IsFramedAs(frame, kLoginFrameSize))
        return false;
    out.user = CutAtSpace(frame.substr(2, kLoginFieldSize));
    out.password = CutAtSpace(frame.substr(2 + kLoginFieldSize, kLoginFieldSize));
    return true;
}

namespace {

// 1 to 9 ASCII digits; -1 for anything else.
int ParseDigits(std::string_view digits) {
    if (digits.empty() || digits.size() > 9)
        return -1;
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// A fixed-size frame of a 4-digit number and a record.
template <typename Record>
bool DecodeNumberedRecord(std::string_view frame, size_t size, int& number, Record& record) {
    if (!IsFramedAs(frame, size))
        return false;
    number = DecodeFourDigits(frame);
    memcpy(&record, frame.data() + 6, sizeof record);
    TerminateTexts(record);
    return number >= 0;
}

} // namespace

int DecodeIndex(std::string_view frame) {
    if (frame.size() < 3 || frame.back() != kEtx)
        return -1;
    return ParseDigits(frame.substr(2, frame.size() - 3));
}

int DecodeFourDigits(std::string_view frame) { return frame.size() < 6 ? -1 : ParseDigits(frame.substr(2, 4)); }

bool DecodeCustomerFrame(std::string_view frame, int& slot, SubscriberRecord& record) {
    return DecodeNumberedRecord(frame, kWriteCustomerFrameSize, slot, record);
}

bool DecodeWriteGroup(std::string_view frame, int& group, GroupRecord& record) {
    return DecodeNumberedRecord(frame, kWriteGroupFrameSize, group, record);
}

bool DecodeAddGroup(std::string_view frame, std::string& name, GroupRecord& record) {
    if (!IsFramedAs(frame, kAddGroupFrameSize))
        return false;
    std::string_view field = frame.substr(6, kGroupNameFieldSize);
    field = field.substr(0, field.find('\0'));
    while (!field.empty() && field.back() == ' ')
        field.remove_suffix(1);
    name.assign(field);
    memcpy(&record, frame.data() + 6 + kGroupNameFieldSize, sizeof record);
    TerminateTexts(record);
    return true;
}

bool DecodeServerPage(std::string_view frame, ServerPageRequest& out) {
    if (!IsFramedAs(frame, kServerPageFrameSize))
        return false;
    out.slot = Int32At(frame, 2);
    out.pageType = Int32At(frame, 6);
    out.subject = TextAt(frame, 10, kPageSubjectSize);
    out.message = TextAt(frame, 110, kPageMessageSize);
    return true;
}

bool DecodeClientPage(std::string_view frame, ClientPageRequest& out) {
    if (!IsFramedAs(frame, kClientPageFrameSize))
        return false;
    out.pageType = Int32At(frame, 4);
    out.userName = TextAt(frame, 8, kClientUserNameSize);
    out.subject = TextAt(frame, 39, kPageSubjectSize);
    out.message = TextAt(frame, 139, kPageMessageSize);
    memcpy(&out.company, frame.data() + 1140, sizeof out.company);
    memcpy(&out.subscriber, frame.data() + 1898, sizeof out.subscriber);
    TerminateTexts(out.company);
    TerminateTexts(out.subscriber);
    return true;
}

std::string DecodeFetchTicketName(std::string_view frame) {
    if (frame.size() < 2)
        return {};
    std::string_view name = frame.substr(2);
    name = name.substr(0, name.find('\0'));
    return std::string(name.substr(0, name.find(kEtx)));
}

std::string StatusReply(int value) { return std::to_string(value) + "\r\n"; }

int ReplyValue(std::string_view reply) {
    size_t at = 0;
    bool negative = false;
    if (at < reply.size() && reply[at] == '-') {
        negative = true;
        ++at;
    }
    long value = 0;
    size_t digits = 0;
    for (; at < reply.size() && reply[at] >= '0' && reply[at] <= '9' && digits < 9; ++at, ++digits)
        value = value * 10 + (reply[at] - '0');
    return static_cast<int>(negative ? -value : value);
}

std::string LockOwnerText(std::string_view userName, std::string_view host) {
    // The client takes this text with one receive of kLockOwnerReplyLimit bytes; more would be left in the
    // stream and read as the next reply.
    return (std::string(userName) + " / " + std::string(host)).substr(0, kLockOwnerReplyLimit);
}

std::string QuotedSubscriberText(const SubscriberRecord& r) {
    const std::string fields[] = {GetText(r.Name),      GetText(r.PIN),       std::to_string(r.Company),
                                  std::to_string(r.Tab), GetText(r.CompanyName), GetText(r.Address),
                                  GetText(r.City),      GetText(r.State),     GetText(r.ZIP),
                                  GetText(r.WorkPhone), GetText(r.HomePhone), GetText(r.FAX),
                                  GetText(r.Cell),      GetText(r.Email)};
    std::string text;
    for (const std::string& field : fields) {
        if (!text.empty())
            text += ',';
        text += '"';
        text += field;
        text += '"';
    }
    return text;
}

std::string EncodeReadCustomerReply(const SubscriberRecord& record) {
    std::string text = QuotedSubscriberText(record);
    char length[8];
    snprintf(length, sizeof length, "%03zu", text.size());
    return length + text;
}

namespace {

// Runs of spaces shrink to one; no value starts with a space; one trailing space goes.
std::string NormaliseSpaces(std::string_view text) {
    size_t start = text.find_first_not_of(' ');
    text = start == std::string_view::npos ? std::string_view() : text.substr(start);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == ' ' && !out.empty()) {
            char last = out.back();
            bool afterQuoteComma = out.size() >= 2 && last == ',' && out[out.size() - 2] == '"';
            if (last == ' ' || last == '"' || afterQuoteComma)
                continue;
        }
        out += c;
    }
    if (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

} // namespace

void DecodeQuotedSubscriberText(std::string_view text, SubscriberRecord& r) {
    memset(&r, 0, sizeof r);
    std::string normal = NormaliseSpaces(text);
    for (size_t i = 1; i < normal.size(); ++i)
        if (normal[i] == ',' && normal[i - 1] == '"')
            normal[i] = kEtx;
    int piece = 0;
    size_t at = 0;
    while (at <= normal.size() && piece < 14) {
        size_t end = normal.find(kEtx, at);
        if (end == std::string::npos)
            end = normal.size();
        std::string_view part(normal.data() + at, end - at);
        at = end + 1;
        if (part.empty())
            continue;
        std::string value(part.size() >= 2 ? part.substr(1, part.size() - 2) : std::string_view());
        switch (piece++) {
        case 0: SetText(r.Name, value); break;
        case 1: SetText(r.PIN, value); break;
        case 2: r.Company = static_cast<int32_t>(atoi(value.c_str())); break;
        case 3: r.Tab = static_cast<int8_t>(atoi(value.c_str())); break;
        case 4: SetText(r.CompanyName, value); break;
        case 5: SetText(r.Address, value); break;
        case 6: SetText(r.City, value); break;
        case 7: SetText(r.State, value); break;
        case 8: SetText(r.ZIP, value); break;
        case 9: SetText(r.WorkPhone, value); break;
        case 10: SetText(r.HomePhone, value); break;
        case 11: SetText(r.FAX, value); break;
        case 12: SetText(r.Cell, value); break;
        case 13: SetText(r.Email, value); break;
        }
    }
}

int GroupMemberCount(const GroupRecord& record) {
    int count = 0;
    while (count < kGroupMembers && record.Members[count][0] != '\0')
        ++count;
    return count;
}

std::string EncodeReadGroupReply(const GroupRecord& record) {
    int count = GroupMemberCount(record);
    char digits[8];
    snprintf(digits, sizeof digits, "%03d", count);
    std::string reply(digits);
    reply.append(reinterpret_cast<const char*>(record.Members), static_cast<size_t>(count) * kMemberNameSize);
    return reply;
}

void DecodeReadGroupMembers(std::string_view members, int count, GroupRecord& record) {
    memset(&record, 0, sizeof record);
    if (count < 0)
        count = 0;
    if (count > kGroupMembers)
        count = kGroupMembers;
    size_t bytes = static_cast<size_t>(count) * kMemberNameSize;
    if (bytes > members.size())
        bytes = members.size();
    memcpy(record.Members, members.data(), bytes);
    TerminateTexts(record);
}

bool TestBit(std::string_view bits, int record) {
    return record >= 0 && static_cast<size_t>(record) < bits.size() * 8 &&
           (static_cast<uint8_t>(bits[record / 8]) >> (record % 8)) & 1u;
}

std::string EncodeFileFind(const FileFindRecord& record) { return std::string(RecordBytes(record)); }

bool DecodeFileFind(std::string_view bytes, FileFindRecord& record) {
    memset(&record, 0, sizeof record);
    if (bytes.size() < sizeof record)
        return false;
    memcpy(&record, bytes.data(), sizeof record);
    record.name[sizeof record.name - 1] = '\0';
    return true;
}

std::string EncodeFetchTicketReply(std::string_view content) {
    content = content.substr(0, kFetchTicketLimit);
    return Digits4(static_cast<int>(content.size())) + std::string(content);
}

std::string FormatIPv4(const uint8_t bytes[4]) {
    char text[20];
    snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

std::string SessionStartedGreeting(std::string_view address) {
    return "Network Session Started for " + std::string(address) + "\r\n";
}

std::string ConnectionRefusedGreeting(std::string_view address) {
    return "Network Connection refused for " + std::string(address) + "\r\n";
}

} // namespace brimlow::lan
