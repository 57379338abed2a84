#pragma once
// The client's side of the LAN frames: every request built whole in one buffer, and the reply fields it reads
// back (the Read Customer text, the file-find record).
#include "directory/records.h"

#include <cstdint>
#include <string>
#include <vector>

namespace brimlow {

constexpr int kLanDefaultPort = 777;
constexpr const char* kLanPortVariable = "BRIMLOW_LAN_PORT";
constexpr int kClientSocketTimeoutMs = 10000;
constexpr char kSoh = 0x01;
constexpr char kEtx = 0x03;

// The server's listen port and the client's connect port: 777, or BRIMLOW_LAN_PORT when it names a port.
int LanPort();

enum class PageType : int32_t { Snpp = 0, Modem = 1, Email = 2 };

constexpr size_t kLoginFrameSize = 63;
constexpr size_t kLoginFieldSize = 30;
constexpr size_t kServerPageFrameSize = 1111;
constexpr size_t kClientPageFrameSize = 2435;
constexpr size_t kPageSubjectSize = 100;
constexpr size_t kPageMessageSize = 1000;
constexpr size_t kPageUserSize = 31;
constexpr size_t kGroupNameFieldSize = 80;
constexpr size_t kSubscriberBitmapSize = 250;
constexpr size_t kGroupBitmapSize = 25;
constexpr size_t kTicketFileLimit = 4000;

// The file-find record of First and Next Ticket; all integers little-endian.
struct FileFindRecord {
    uint32_t attributes;
    uint32_t created;
    uint32_t accessed;
    uint32_t written;
    uint32_t size;
    char name[260];
};
static_assert(sizeof(FileFindRecord) == 280);
static_assert(offsetof(FileFindRecord, name) == 20);

// SOH, code, body, ETX.
std::string Frame(char code, const std::string& body);
// A request that carries one decimal number: "2", "3", "4", "5", "6", ";", "?".
std::string IndexFrame(char code, int index);
std::string LoginFrame(const std::string& username, const std::string& password);
std::string WriteSubscriberFrame(int slot, const SubscriberRecord& record);
std::string AddSubscriberFrame(const SubscriberRecord& record);
std::string WriteGroupFrame(int group, const GroupRecord& record);
std::string AddGroupFrame(int scratchGroup, const std::string& name, const GroupRecord& record);
std::string ServerPageFrame(int slot, PageType type, const std::string& subject, const std::string& message);
std::string ClientPageFrame(PageType type, const std::string& username, const std::string& subject,
                            const std::string& message, const CompanyRecord& company,
                            const SubscriberRecord& subscriber);
std::string FetchTicketFrame(const std::string& name);

// Decodes a Read Customer text into a record of the network directory: the 14 fields in their order, Tab 3.
SubscriberRecord DecodeCustomerText(const std::string& text);

// The decimal value of digits only ("042" is 42); -1 when any byte is no digit or there are none.
int ParseDigits(const char* bytes, size_t size);

// A ticket name that may become a file of the Tracking folder: not empty, no folder part, no "." or "..".
bool IsSafeTicketName(const std::string& name);

} // namespace brimlow
