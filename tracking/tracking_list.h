#pragma once
// The main window's tracking list: the tickets of the Tracking folder, newest first, each in one of three states,
// and what its four buttons do to the selected tickets. Every rebuild shreds the tickets past their two days.
#include "console/console.h"

#include <ctime>
#include <string>
#include <vector>

namespace brimlow {

constexpr size_t kMaxTrackingEntries = 500;
constexpr time_t kTicketLifetimeSeconds = 172800; // 48 hours after its last write a ticket is shredded
constexpr time_t kRecentTicketSeconds = 3600;
constexpr int kCheckHandoffPollMs = 100;

constexpr const char* kNetworkTicketRefusal = "Network tracking tickets can only be checked by the server!";
constexpr const char* kMarkNotCleared = "Unable to set file attributes";

enum class TicketState { NewReplies, Recent, Older };

struct TrackingEntry {
    std::string name;
    time_t lastWrite = 0;
    TicketState state = TicketState::Older;
};

// Lists the Tracking folder in listing order until 500 tickets are kept, shredding each ticket last written more
// than 48 hours ago; returns the kept ones newest first and clears the tracking-refresh flag.
std::vector<TrackingEntry> RebuildTrackingList(Console& console);

// After the operator has read a ticket: clears its unread mark, or reports "Unable to set file attributes".
// Runs on the user-interface thread, so the line goes straight to the Result list.
void MarkTicketRead(Console& console, const std::string& name);

// Makes the last write of the ticket now (its content stays), so the background check looks at it again during
// the next hour, then marks it read.
void AcknowledgeTicket(Console& console, const std::string& name);

// 1 when the ticket existed and is gone.
int DeleteTicket(Console& console, const std::string& name);

// Hands each ticket to its own check job, one after another, while the background check pauses. A ticket this
// console holds for its network user is refused with a message box: its server checks it.
void CheckTickets(Console& console, const std::vector<std::string>& names);

} // namespace brimlow
