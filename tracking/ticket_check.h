#pragma once
// Status checks of tracking tickets: connect to the ticket's server, ask "MSTA tag.pass", and append the replies
// beyond those already stored.
#include "console/console.h"
#include "console/handoff_buffer.h"
#include "transports/line_channel.h"

#include <cstdint>
#include <optional>
#include <string>

namespace brimlow {

constexpr size_t kGreetingSize = 200;
constexpr size_t kStatusReplySize = 2000;
constexpr int kStatusListEndCode = 259;
constexpr int kMaxStoredReplies = 9999; // the count line holds four digits
// A greeting that does not come within a minute ends the check.
constexpr LineLimits kCheckLimits{kSocketTimeoutMs, 60000};

struct TicketTarget {
    uint64_t tag = 0;
    int pass = 0;
    bool hostForm = false;
    std::string host; // host form
    int port = 0;
    int companyIndex = 0; // index form
    bool networkDirectory = false;
    std::string owner; // after the index or the port, empty when the name has none
};

// Reads a name that TicketFileName wrote: after its first "." the message tag and the pass code, then either
// ".index" with "N" (the network directory) or "-owner", or "-address-port" with "-owner" or nothing. Empty when
// the name is not of these forms or the index is no company slot.
std::optional<TicketTarget> ParseTicketName(const std::string& name);

// One check of the ticket (file name without folder). True when the exchange ran to QUIT; false when the name
// cannot be read, the server could not be reached or its greeting was refused.
bool CheckTicket(Console& console, const std::string& name, const LineLimits& limits = kCheckLimits);

// The check button's job: takes the ticket name out of the buffer (emptying it) and checks it. False when no
// thread could be started; the buffer is emptied all the same.
bool StartCheckTicketJob(Console& console, HandoffBuffer& ticketName);

} // namespace brimlow
