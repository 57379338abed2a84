#pragma once
// The LAN protocol between a client console and the server console: request codes, the bytes of every request
// frame and reply, the greeting lines, and the framing rule that tells when a request has fully arrived.
// Both sides build and take apart their messages only here. No I/O: every function works on byte strings.
//
// A request frame is SOH, one code byte '0'..'F', the body of that code, ETX. Replies carry no frame; their
// length follows from the request (see the reply helpers below). Integers inside frames are 32-bit
// little-endian; "decimal" fields are ASCII digits without padding, "4-digit" fields are zero-padded to four.
#include "directory/records.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brimlow::lan {

constexpr int kLanPort = 777;           // BRIMLOW_LAN_PORT overrides it on both sides
constexpr const char* kLanPortEnv = "BRIMLOW_LAN_PORT";
// The LAN port: BRIMLOW_LAN_PORT when it holds a port number 1..65535, else 777.
int LanPortFromEnvironment();
constexpr char kSoh = 0x01;
constexpr char kEtx = 0x03;

// Request codes; the comment is the text the server's monitor shows for it.
enum class Request : char {
    Login = '0',
    WriteCustomer = '1', // "Write Customer"
    ReadCustomer = '2',  // "Read Customer"
    ReadGroup = '3',     // "Read Group"
    LockRecord = '4',    // "Lock Record"
    UnlockRecord = '5',  // "Unlock Record"
    LockOwner = '6',     // "Lock Owner"
    IsGroup = '7',       // "Is Group"
    CheckCust = '8',     // "Check Cust"
    CheckGroup = '9',    // "Check Group"
    WriteGroup = ':',    // "Write Group"
    DeleteCust = ';',    // "Delete Cust"
    AddCustomer = '<',   // "Add Customer"
    AddGroup = '=',      // "Add Group"
    SecurityLevel = '>',
    ReadCompany = '?', // "Read Company"
    Unused = '@',      // answered with nothing
    Ping = 'A',
    ServerPage = 'B',
    ClientPage = 'C',
    FirstTicket = 'D',
    NextTicket = 'E',
    FetchTicket = 'F',
};

// The monitor text of a request code, or nullptr for the codes that leave the monitor line unchanged.
const char* RequestMonitorName(char code);

// ---- Fixed sizes --------------------------------------------------------------------------------------------

constexpr size_t kLoginFieldSize = 30;
constexpr size_t kLoginFrameSize = 63;
constexpr size_t kWriteCustomerFrameSize = 543; // also Add Customer
constexpr size_t kWriteGroupFrameSize = 16207;
constexpr size_t kGroupNameFieldSize = 80;
constexpr size_t kAddGroupFrameSize = 16287;
constexpr size_t kServerPageFrameSize = 1111;
constexpr size_t kClientPageFrameSize = 2435;
constexpr size_t kEmptyFrameSize = 3; // SOH, code, ETX

constexpr size_t kPageSubjectSize = 100; // up to 99 characters, NUL-terminated
constexpr size_t kPageMessageSize = 1000; // up to 999 characters, NUL-terminated
constexpr size_t kPageSubjectLimit = kPageSubjectSize - 1;
constexpr size_t kPageMessageLimit = kPageMessageSize - 1;
constexpr size_t kClientUserNameSize = 31;

constexpr size_t kCompanyReplySize = sizeof(CompanyRecord); // 758
constexpr size_t kSubscriberBitmapSize = 250;                // 2,000 bits
constexpr size_t kGroupBitmapSize = 25;                      // 200 bits
constexpr size_t kFetchTicketLimit = 4000;
constexpr size_t kGreetingLimit = 80;

// Page types of Server Page and Client Page.
constexpr int32_t kPageSnpp = 0;
constexpr int32_t kPageModem = 1;
constexpr int32_t kPageEmail = 2;

// The frame size that a request code fixes, or 0 for the codes whose frame ends at its first ETX (decimal index
// requests, Fetch Ticket, and unknown codes).
size_t FixedFrameSize(char code);

// ---- Framing ------------------------------------------------------------------------------------------------

// Result of looking at the bytes received so far.
//   skip:     leading bytes that belong to no frame (junk before SOH, or frames that cannot be right); the
//             caller drops them, also when no frame is complete yet.
//   complete: a whole request starts at data + skip; length is its size, SOH through ETX.
// A fixed-size request is complete exactly when its size has arrived and its last byte is ETX, so a binary
// record holding 0x03 is never cut short wherever TCP splits it. A fixed-size frame whose last byte is not ETX,
// a variable frame without ETX within kVariableFrameLimit bytes, or one in which a SOH comes before the ETX,
// is not a frame: its SOH is skipped.
struct FrameScan {
    size_t skip = 0;
    size_t length = 0;
    bool complete = false;
};
constexpr size_t kVariableFrameLimit = 300; // SOH, code, a 260-byte ticket name with room to spare, ETX
FrameScan ScanFrame(const char* data, size_t n);

// ---- Requests: encoders (client) ----------------------------------------------------------------------------

// SOH '0', user name and password each cut to 30 and padded with spaces to 30, ETX (63 bytes).
std::string EncodeLogin(std::string_view user, std::string_view password);
// SOH code ETX: Check Cust, Check Group, Security Level, Ping, First Ticket, Next Ticket.
std::string EncodeEmpty(Request code);
// SOH code "%d" ETX: Read Customer, Read Group, Lock/Unlock Record, Lock Owner, Is Group, Delete Cust,
// Read Company. Index 0 is the single digit "0".
std::string EncodeIndex(Request code, int index);
// SOH '1' "%04d" record ETX (543 bytes).
std::string EncodeWriteCustomer(int slot, const SubscriberRecord& record);
// SOH '<' "0000" record ETX (543 bytes).
std::string EncodeAddCustomer(const SubscriberRecord& record);
// SOH ':' "%04d" group record ETX (16,207 bytes).
std::string EncodeWriteGroup(int group, const GroupRecord& record);
// SOH '=' "%04d" (the sender's scratch slot) name padded with spaces to 80, group record, ETX (16,287 bytes).
std::string EncodeAddGroup(int scratchGroup, std::string_view name, const GroupRecord& record);
// Server Page (1,111 bytes): subject cut to 99, message to 999.
std::string EncodeServerPage(int32_t slot, int32_t pageType, std::string_view subject, std::string_view message);
// Client Page (2,435 bytes): user name cut to 30, subject to 99, message to 999.
std::string EncodeClientPage(int32_t pageType, std::string_view userName, std::string_view subject,
                             std::string_view message, const CompanyRecord& company,
                             const SubscriberRecord& subscriber);
// SOH 'F' name ETX.
std::string EncodeFetchTicket(std::string_view name);

// ---- Requests: decoders (server) ----------------------------------------------------------------------------
// Each takes one complete frame as ScanFrame delimited it and returns false when the frame is not of the
// expected size or its number fields are not numbers. Range checks are the caller's: an index that parses is
// returned as it stands. Every text field of a carried record ends with a NUL afterwards, even when the sender
// filled it to its last byte.

struct LoginRequest {
    std::string user;     // cut at the first space
    std::string password; // cut at the first space
};
bool DecodeLogin(std::string_view frame, LoginRequest& out);

// The decimal field after the code up to ETX, at most 9 digits; -1 when it is empty or not all digits.
int DecodeIndex(std::string_view frame);

// The 4-digit field at bytes 2..5; -1 when those are not four digits.
int DecodeFourDigits(std::string_view frame);

// Write Customer and Add Customer: the 4-digit field and the carried record.
bool DecodeCustomerFrame(std::string_view frame, int& slot, SubscriberRecord& record);
// Write Group: the 4-digit group number and the carried record (16,200 bytes, the caller's, never the stack's).
bool DecodeWriteGroup(std::string_view frame, int& group, GroupRecord& record);
// Add Group: the 80-character name with its trailing spaces removed, and the carried record.
bool DecodeAddGroup(std::string_view frame, std::string& name, GroupRecord& record);

struct ServerPageRequest {
    int32_t slot = 0;
    int32_t pageType = 0;
    std::string subject; // up to the first NUL of its field
    std::string message;
};
bool DecodeServerPage(std::string_view frame, ServerPageRequest& out);

struct ClientPageRequest {
    int32_t pageType = 0;
    std::string userName;
    std::string subject;
    std::string message;
    CompanyRecord company{};
    SubscriberRecord subscriber{};
};
bool DecodeClientPage(std::string_view frame, ClientPageRequest& out);

// The name from byte 2 up to the first NUL, cut at the first ETX.
std::string DecodeFetchTicketName(std::string_view frame);

// ---- Replies ------------------------------------------------------------------------------------------------

// "%d\r\n": the status replies ("1\r\n", "0\r\n"), Security Level, and -10 for a request before Login.
std::string StatusReply(int value);
constexpr int kNotAuthenticated = -10;
constexpr const char* kPongReply = "PONG\r\n";
constexpr const char* kFetchFailedReply = "-1\r\n";
constexpr size_t kStatusReplySize = 3; // "1\r\n" and "0\r\n"

// The decimal value of a reply's leading digits (with an optional '-'), as the client reads status replies,
// lengths and counts; 0 when there is none.
int ReplyValue(std::string_view reply);

// Lock Owner texts, sent without a line end.
constexpr const char* kNotLockedText = "Not Locked";
constexpr const char* kServerLockText = "*SERVER*";
constexpr size_t kLockOwnerReplyLimit = 100;
// "%s / %s", cut to kLockOwnerReplyLimit bytes.
std::string LockOwnerText(std::string_view userName, std::string_view host);

// Read Customer: the 14 quoted fields joined by commas (Name, PIN, Company, Tab, CompanyName, Address, City,
// State, ZIP, WorkPhone, HomePhone, FAX, Cell, Email), texts unescaped.
std::string QuotedSubscriberText(const SubscriberRecord& record);
// The reply: the text's length as 3 digits, then the text.
std::string EncodeReadCustomerReply(const SubscriberRecord& record);
// Fills record (zeroed first) from a quoted text as the client decodes it: spaces normalised, a comma right
// after a double quote separates fields, each piece loses its first and last character, pieces 3 and 4 are
// decimal, a 15th piece is ignored. LockByte stays 0; the caller sets Tab for its own directory.
void DecodeQuotedSubscriberText(std::string_view text, SubscriberRecord& record);

// Read Group: the number of leading non-empty member names (0..200).
int GroupMemberCount(const GroupRecord& record);
// The reply: the count as 3 digits, then count x 81 bytes of the record. A free slot gives "000".
std::string EncodeReadGroupReply(const GroupRecord& record);
// Fills record (zeroed first) from count x 81 bytes of member names; count is cut to 0..200 and to the bytes
// that are there.
void DecodeReadGroupMembers(std::string_view members, int count, GroupRecord& record);

// Changed-record bitmaps: bit i of byte k stands for record 8k + i.
using SubscriberBitmap = std::array<uint8_t, kSubscriberBitmapSize>;
using GroupBitmap = std::array<uint8_t, kGroupBitmapSize>;
template <size_t N> void SetBit(std::array<uint8_t, N>& bits, int record) {
    if (record >= 0 && static_cast<size_t>(record) < N * 8)
        bits[record / 8] |= static_cast<uint8_t>(1u << (record % 8));
}
template <size_t N> bool TestBit(const std::array<uint8_t, N>& bits, int record) {
    return record >= 0 && static_cast<size_t>(record) < N * 8 && (bits[record / 8] >> (record % 8)) & 1u;
}
// Bit tests on a reply as it arrived (the client reads the group bitmap with room for more).
bool TestBit(std::string_view bits, int record);

// First Ticket / Next Ticket reply. All zero (empty name): no further ticket.
struct FileFindRecord {
    uint32_t attributes; // 0x20: archive (not yet collected)
    uint32_t created;    // seconds since 1970-01-01 UTC
    uint32_t accessed;
    uint32_t written;
    uint32_t size;
    char name[260]; // without folder, NUL-terminated, NUL-padded
};
static_assert(sizeof(FileFindRecord) == 280);
constexpr uint32_t kArchiveAttribute = 0x20;
constexpr size_t kFileFindSize = sizeof(FileFindRecord);
std::string EncodeFileFind(const FileFindRecord& record);
// False when fewer than 280 bytes are given; the name is always terminated afterwards.
bool DecodeFileFind(std::string_view bytes, FileFindRecord& record);

// Fetch Ticket: the length as 4 digits, then the bytes; content is cut to 4,000 bytes.
std::string EncodeFetchTicketReply(std::string_view content);

// ---- Greeting -----------------------------------------------------------------------------------------------

// The four bytes of an IPv4 address in network order, each in decimal: "127.0.0.1".
std::string FormatIPv4(const uint8_t bytes[4]);
// "Network Session Started for %s\r\n" and "Network Connection refused for %s\r\n".
std::string SessionStartedGreeting(std::string_view address);
std::string ConnectionRefusedGreeting(std::string_view address);

} // namespace brimlow::lan
