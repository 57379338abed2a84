#pragma once
// The e-mail packet (EMG file): envelope and message in one text file of the data directory, written at once
// and delivered later by an SMTP daemon.
//   <return address>             envelope sender, kept for the record
//   <subscriber Email>           envelope recipient, used as it stands in RCPT TO
//   X-Sender, X-Mailer, Date, To, From, [Subject,] Mime-Version, Content-Type, empty line, text, LF
#include "console/console.h"

#include <ctime>
#include <string>

namespace brimlow {

constexpr const char* kMailer = "Morrow Relay 3.5";
constexpr const char* kEmailPacketPattern = "emg*.*";

// "Tue, 4 Dec 2001 9:05:00 -0600": biasMinutes is UTC minus local standard time.
std::string FormatEmailDate(const struct tm& local, long biasMinutes);

// The standard-time offset of the local zone in minutes, positive west of UTC; daylight saving is not applied.
long StandardTimeBiasMinutes();

// A value for a header line: CR and LF become blanks, so no value can start a header of its own.
std::string HeaderValue(const std::string& text);

// Everything up to the message text.
std::string EmailPacketHead(const Settings& settings, const SubscriberRecord& record, const std::string& subject,
                            const std::string& dateText);

// Returns 1 when the packet is complete, 0 on failure (after posting its status lines).
int WriteEmailPacket(Console& console, SubscriberRecord record, const std::string& subject, const std::string& text);

} // namespace brimlow
