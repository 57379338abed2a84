#pragma once
// What the Send button does: for every given entry (a subscriber, or every member of a group) the page goes out
// by the send mode at once: SNPP, an e-mail packet and its SMTP daemons, or the disk queue.
#include "console/console.h"

#include <functional>
#include <string>
#include <vector>

namespace brimlow {

constexpr int kSmtpHandoffPollMs = 1000;

struct SendOutcome {
    int recipients = 0;
    int failures = 0;     // pages whose sending or writing failed (each was shown)
    int emailPackets = 0; // packets handed to SMTP daemons, which report on their own
    bool queued = false;  // a page went into the local disk queue
};

// Told before each recipient: its name, how many were served before it, how many there are in all.
using SendProgress = std::function<void(const std::string& name, int done, int total)>;

// slots are subscriber slots of the directory of page.currentTab. Failures are shown through console.op and
// the remaining recipients are still served. Safe on any thread.
SendOutcome SendPage(Console& console, const ComposedPage& page, const std::vector<int>& slots,
                     const SendProgress& progress = {});

} // namespace brimlow
