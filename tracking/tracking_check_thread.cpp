#include "tracking/tracking_check_thread.h"

#include "directory/data_files.h"
#include "queue/status.h"
#include "tracking/ticket.h"
#include "tracking/ticket_check.h"

#include <algorithm>

namespace brimlow {
namespace {

constexpr int kExitPollMs = 100; // how soon a sleeping thread sees the exiting flag

// False when the console began to exit meanwhile.
bool SleepUnlessExiting(Console& console, int ms) {
    int64_t until = console.clock->NowMs() + ms;
    while (!console.exiting) {
        int64_t left = until - console.clock->NowMs();
        if (left <= 0)
            return true;
        console.clock->SleepMs(static_cast<int>(std::min<int64_t>(left, kExitPollMs)));
    }
    return false;
}

} // namespace

std::string OwnSuffix(const Settings& settings) {
    return settings.Username.empty() ? std::string() : "-" + LowerAscii(settings.Username);
}

bool TicketDue(const ListedFile& ticket, time_t now, const std::string& ownSuffix, int windowSeconds) {
    if (now - ticket.lastWrite > windowSeconds)
        return false;
    if (ticket.name == "." || ticket.name == "..")
        return false;
    return ownSuffix.empty() || ticket.name.find(ownSuffix) == std::string::npos;
}

void RunTrackingCheckPass(Console& console, const std::string& ownSuffix, const TrackingCheckTiming& timing) {
    std::vector<ListedFile> tickets = ListFolder(JoinPath(console.dataDir, kTrackingFolder), "*.*");
    time_t now = console.clock->Now();
    for (const ListedFile& ticket : tickets) {
        if (ticket.isFolder || !TicketDue(ticket, now, ownSuffix, timing.windowSeconds))
            continue;
        while (console.trackingPause && !console.exiting)
            console.clock->SleepMs(timing.pauseSleepMs);
        if (console.exiting)
            return;
        if (!CheckTicket(console, ticket.name))
            PostStatus(console, kCheckError);
    }
}

void TrackingCheckThread(Console& console, const TrackingCheckTiming& timing) {
    const std::string ownSuffix = OwnSuffix(console.settings.Get());
    while (SleepUnlessExiting(console, timing.periodMs))
        RunTrackingCheckPass(console, ownSuffix, timing);
}

bool StartTrackingCheckThread(Console& console, const TrackingCheckTiming& timing) {
    return console.StartWorker([&console, timing] { TrackingCheckThread(console, timing); });
}

} // namespace brimlow
