#pragma once
// The e-mail packet (EMG file): envelope and message in one text file of the data directory, written at once
// and delivered later by an SMTP daemon.
//   <return address>             envelope sender, kept for the record
//   <subscriber Email>           envelope recipient, used as it stands in RCPT TO
//   X-Sender, X-Mailer, Date, Message-ID, To, From, [Subject,] Mime-Version, Content-Type,
//   [Content-Transfer-Encoding,] empty line, text, LF
#include "console/console.h"

#include <ctime>
#include <string>

namespace brimlow {

constexpr const char* kMailer = "Morrow Relay 3.5";
constexpr const char* kEmailPacketPattern = "emg*.*";
// The console's own mail domain: HELO, and Message-IDs when the return address names no domain.
constexpr const char* kMailDomain = "brimlow.local";

// "Tue, 4 Dec 2001 09:05:00 -0600": the local time with the offset from UTC in force at that moment.
std::string FormatEmailDate(const struct tm& local);

// "<20011204090541.1f2e3d4c5b6a7988@example.com>": the time and a random number, at the return address's domain.
std::string MakeMessageId(const struct tm& local, const std::string& returnAddress);

// A value for a header line: CR and LF become blanks, so no value can start a header of its own.
std::string HeaderValue(const std::string& text);

// Everything up to the message text. A text or subject with bytes above 0x7F makes the charset ISO-8859-1 (the
// records hold Latin-1) and a subject or display name with such bytes goes as encoded words; a text that SMTP
// cannot carry as it stands (such bytes, or a line too long) is sent quoted-printable.
std::string EmailPacketHead(const Settings& settings, const SubscriberRecord& record, const std::string& subject,
                            const std::string& text, const std::string& dateText, const std::string& messageId);
// The message text as the packet carries it.
std::string EmailPacketText(const std::string& text);

// Returns 1 when the packet is complete, 0 on failure (after posting its status lines).
int WriteEmailPacket(Console& console, SubscriberRecord record, const std::string& subject, const std::string& text);

} // namespace brimlow
