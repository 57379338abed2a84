#pragma once
// The SMTP dialogue of one e-mail packet: HELO, MAIL FROM, RCPT TO, DATA, the body, end of data, QUIT. Only 5xx
// replies refuse; a reply that never comes (connection closed, or silence past the reply limit) fails too.
#include "console/console.h"
#include "transports/line_channel.h"

#include <cstdio>
#include <string>

namespace brimlow {

constexpr int kSmtpPort = 25;
constexpr const char* kSmtpPortVariable = "BRIMLOW_SMTP_PORT";
constexpr const char* kHeloDomain = "brimlow.local";
constexpr size_t kSmtpReplySize = 200;
constexpr int kSmtpBodyLineSize = 1500; // 1,499 characters and the terminator
constexpr LineLimits kSmtpLimits{kSocketTimeoutMs, 60000};

// Port 25, or BRIMLOW_SMTP_PORT when it holds a port number.
int SmtpPort();

// packet is positioned after line 2. The sender is the Return Address setting; the sender text of the packet is
// kept for the record only. Returns 1 when the server accepted the message.
int SmtpSend(Console& console, FILE* packet, const std::string& recipient, const std::string& sender,
             const LineLimits& limits = kSmtpLimits);

} // namespace brimlow
