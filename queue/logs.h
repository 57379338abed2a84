#pragma once
// The three plain-text logs of the data directory. Each entry is one time-stamped line with CR LF line ends,
// and each is opened and closed per entry so that other programs can read it meanwhile.
#include "console/console.h"

#include <cstdint>
#include <ctime>
#include <string>

namespace brimlow {

constexpr const char* kStatusLog = "MSNPP.LOG";
constexpr const char* kMessageLog = "Messages.LOG";
constexpr const char* kNetworkLog = "Network.log";

// Returns 1 when the entry was written, 0 when the file could not be opened.
int WriteLogEntry(Console& console, const char* fileName, const std::string& text);
inline int WriteStatusLog(Console& c, const std::string& text) { return WriteLogEntry(c, kStatusLog, text); }
inline int WriteMessageLog(Console& c, const std::string& text) { return WriteLogEntry(c, kMessageLog, text); }
inline int WriteNetworkLog(Console& c, const std::string& text) { return WriteLogEntry(c, kNetworkLog, text); }

// "%2d/%02d/%02d %2d:%02d %s" with the text, and every LF as CR LF, then CR LF.
std::string FormatLogEntry(const struct tm& local, const std::string& text);

// The decimal value with commas between groups of three digits; "ERROR" from 10^18 on.
std::string FormatGrouped(uint64_t value);

} // namespace brimlow
