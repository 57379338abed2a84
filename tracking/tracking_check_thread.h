#pragma once
// The background check of recent tracking tickets: every three minutes, each ticket written within the last
// hour is checked, except the tickets this console holds for its own network user (the server checks those).
#include "console/console.h"
#include "queue/file_listing.h"

#include <string>

namespace brimlow {

struct TrackingCheckTiming {
    int periodMs = 180000;
    int windowSeconds = 3600;
    int pauseSleepMs = 2000; // while the check button's jobs run
};

constexpr const char* kCheckError = "Error checking tracking number!";

// "-" and the console's network user name in lower case; empty when no user name is set.
std::string OwnSuffix(const Settings& settings);

// Whether the background pass checks this ticket: last written at most windowSeconds before now, and not one
// of this console's own (its name contains the own suffix) when the suffix is not empty.
bool TicketDue(const ListedFile& ticket, time_t now, const std::string& ownSuffix, int windowSeconds);

// One pass over the Tracking folder, in listing order.
void RunTrackingCheckPass(Console& console, const std::string& ownSuffix, const TrackingCheckTiming& timing);

// Sleeps a period, runs a pass, and again, until the console exits.
void TrackingCheckThread(Console& console, const TrackingCheckTiming& timing);

// False when no thread could be started.
bool StartTrackingCheckThread(Console& console, const TrackingCheckTiming& timing = {});

} // namespace brimlow
