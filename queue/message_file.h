#pragma once
// One queued page: a copy of the recipient's record followed by the message text. A local file is always
// 1,546 bytes; a network file written by the server intake carries the text without terminator or padding.
#include "directory/records.h"

#include <optional>
#include <string>

namespace brimlow {

constexpr size_t kMessageTextSize = 1010;
constexpr size_t kMessageFileSize = sizeof(SubscriberRecord) + kMessageTextSize;
static_assert(kMessageFileSize == 1546);

constexpr const char* kReadyPrefix = "MSG";
constexpr const char* kHeldPrefix = "MSQ";
constexpr const char* kEmailPrefix = "EMG";

struct MessageFile {
    SubscriberRecord record;
    std::string text;
};

// The 536-byte record and the text NUL-padded to 1,010 bytes (the text is cut to 1,009 characters).
std::string MessageFileBytes(const SubscriberRecord& record, const std::string& text);
bool WriteMessageFile(int fd, const SubscriberRecord& record, const std::string& text);

// Reads a local or a network message file; the text is taken up to its NUL or to at most maxText bytes.
std::optional<MessageFile> ReadMessageFile(const std::string& path, size_t maxText = kMessageTextSize);
// The same from an open descriptor, which stays open.
std::optional<MessageFile> ReadMessageFile(int fd, size_t maxText = kMessageTextSize);

} // namespace brimlow
