#pragma once
// The SMTP dialogue of one e-mail packet: HELO, MAIL FROM, RCPT TO, DATA, the body, end of data, QUIT. A 4xx or
// 5xx reply ends it, and so does a reply that never comes (connection closed, or silence past the reply limit);
// QUIT goes out whatever the end.
#include "console/console.h"
#include "queue/email_packet.h"
#include "transports/delivery.h"
#include "transports/line_channel.h"

#include <cstdio>
#include <string>

namespace brimlow {

constexpr int kSmtpPort = 25;
constexpr const char* kSmtpPortVariable = "BRIMLOW_SMTP_PORT";
constexpr size_t kSmtpReplySize = 200;
constexpr int kSmtpBodyLineSize = 1500; // 1,499 characters and the terminator
constexpr LineLimits kSmtpLimits{kSocketTimeoutMs, 60000};

// Port 25, or BRIMLOW_SMTP_PORT when it holds a port number.
int SmtpPort();

// packet is positioned after line 2. The sender is the Return Address setting; the sender text of the packet is
// kept for the record only.
Delivery SmtpSend(Console& console, FILE* packet, const std::string& recipient, const std::string& sender,
                  const LineLimits& limits = kSmtpLimits);

} // namespace brimlow
