#pragma once
// The one SNPP dialogue behind the three senders: greeting, optional "2WAY", PAGE, DATA, the text, SEND, QUIT.
// A 4xx or 5xx reply, or one that never comes, ends the page as failed; QUIT goes out whatever the end.
#include "console/console.h"
#include "tracking/ticket.h"
#include "transports/delivery.h"
#include "transports/line_channel.h"

#include <string>

namespace brimlow {

constexpr size_t kSnppReplySize = 200;
// One reply line is waited for in receives of the socket time-out each; the first time-out after a minute ends
// the wait, so a server that holds the connection open in silence cannot hang the console.
constexpr int kSnppReplyLimitMs = 60000;
constexpr LineLimits kSnppLimits{kSocketTimeoutMs, kSnppReplyLimitMs};

constexpr const char* kTwoWayRefused = "ERROR: Two Way mode not supported!";

struct SnppPage {
    CompanyRecord company{};
    std::string subscriberName;
    std::string pin;
    std::string text;
    TicketSource ticketSource; // how a two-way page's ticket is named
    StatusSink post;
    bool postTwoWayReply = false;
    bool setBothRefreshFlags = true;
};

Delivery SendSnppPage(Console& console, const SnppPage& page, const LineLimits& limits = kSnppLimits);

// The text as it goes after DATA, up to the closing ".": each line (ended by LF or CR LF, or the last line)
// ended by CR LF, and a line that is a single "." sent as "..", so the text cannot end the data early.
std::string SnppDataText(const std::string& text);

} // namespace brimlow
