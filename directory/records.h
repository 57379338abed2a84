#pragma once
// Fixed-size records of the directory. The in-memory layout is the on-disk layout: the data files are these
// tables dumped as they stand, little-endian, with no header.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace brimlow {

static_assert(std::endian::native == std::endian::little, "record layouts are little-endian");

constexpr int kCompanySlots = 100;
constexpr int kSubscriberSlots = 2000;
constexpr int kGroupSlots = 200;
constexpr int kGroupMembers = 200;
constexpr int kMemberNameSize = 81;

struct CompanyRecord {
    char Name[81];
    char Address[81];
    int16_t Port;   // 0 = COM1
    int16_t Socket; // SNPP TCP port
    char Phone[82];
    uint16_t Baud;
    uint8_t reserved1[4];
    int16_t MaxChars;
    int16_t QueueFolderFlag;
    uint8_t TwoWay;
    uint8_t reserved2[499];
};

struct SubscriberRecord {
    char Name[79];
    uint8_t LockByte; // 0 free, 0xFF local editor, 1..100 session slot + 1 on the server
    int8_t Tab;       // 0..2 local tabs, 3 the network directory
    char CompanyName[81];
    char Address[81];
    char City[41];
    char State[41];
    char ZIP[21];
    char WorkPhone[21];
    char HomePhone[21];
    char FAX[21];
    char Cell[21];
    char Email[81];
    char PIN[21];
    int32_t Company; // negative: a group entry whose group number is -Company

    bool IsGroup() const { return Company < 0; }
};

struct GroupRecord {
    char Members[kGroupMembers][kMemberNameSize];
};

struct ModemSettings {
    char InitString[81];
    char DialPrefix[31];
};

struct SignatureRecord {
    char Text[100];
    int32_t Attach;
};

constexpr uint8_t kLockedByLocalEditor = 0xFF;

static_assert(sizeof(CompanyRecord) == 758);
static_assert(offsetof(CompanyRecord, Address) == 81);
static_assert(offsetof(CompanyRecord, Port) == 162);
static_assert(offsetof(CompanyRecord, Socket) == 164);
static_assert(offsetof(CompanyRecord, Phone) == 166);
static_assert(offsetof(CompanyRecord, Baud) == 248);
static_assert(offsetof(CompanyRecord, MaxChars) == 254);
static_assert(offsetof(CompanyRecord, QueueFolderFlag) == 256);
static_assert(offsetof(CompanyRecord, TwoWay) == 258);

static_assert(sizeof(SubscriberRecord) == 536);
static_assert(offsetof(SubscriberRecord, LockByte) == 79);
static_assert(offsetof(SubscriberRecord, Tab) == 80);
static_assert(offsetof(SubscriberRecord, CompanyName) == 81);
static_assert(offsetof(SubscriberRecord, Address) == 162);
static_assert(offsetof(SubscriberRecord, City) == 243);
static_assert(offsetof(SubscriberRecord, State) == 284);
static_assert(offsetof(SubscriberRecord, ZIP) == 325);
static_assert(offsetof(SubscriberRecord, WorkPhone) == 346);
static_assert(offsetof(SubscriberRecord, HomePhone) == 367);
static_assert(offsetof(SubscriberRecord, FAX) == 388);
static_assert(offsetof(SubscriberRecord, Cell) == 409);
static_assert(offsetof(SubscriberRecord, Email) == 430);
static_assert(offsetof(SubscriberRecord, PIN) == 511);
static_assert(offsetof(SubscriberRecord, Company) == 532);

static_assert(sizeof(GroupRecord) == 16200);
static_assert(sizeof(ModemSettings) == 112);
static_assert(offsetof(ModemSettings, DialPrefix) == 81);
static_assert(sizeof(SignatureRecord) == 104);
static_assert(offsetof(SignatureRecord, Attach) == 100);

// Fixed-width text fields hold a NUL-terminated string; a field that was filled to the brim reads up to its end.
template <size_t N> std::string GetText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// Stores at most N-1 bytes and NUL-pads the rest, so the field stays terminated.
template <size_t N> void SetText(char (&field)[N], std::string_view text) {
    size_t n = text.size() < N - 1 ? text.size() : N - 1;
    memcpy(field, text.data(), n);
    memset(field + n, 0, N - n);
}

template <size_t N> bool IsEmptyText(const char (&field)[N]) { return field[0] == '\0'; }

} // namespace brimlow
