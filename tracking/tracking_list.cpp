#include "tracking/tracking_list.h"

#include "console/handoff_buffer.h"
#include "directory/data_files.h"
#include "queue/file_listing.h"
#include "queue/status.h"
#include "tracking/ticket.h"
#include "tracking/ticket_check.h"
#include "tracking/tracking_check_thread.h"
#include "tracking/unread_mark.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brimlow {

std::vector<TrackingEntry> RebuildTrackingList(Console& console) {
    const std::string folder = JoinPath(console.dataDir, kTrackingFolder);
    const time_t now = console.clock->Now();
    std::vector<TrackingEntry> kept;
    for (const ListedFile& file : ListFolder(folder, "*.*")) {
        if (kept.size() == kMaxTrackingEntries)
            break;
        if (file.isFolder)
            continue;
        if (now - file.lastWrite > kTicketLifetimeSeconds) {
            ShredFile(JoinPath(folder, file.name));
            continue;
        }
        TicketState state = HasUnreadMark(file.mode)                       ? TicketState::NewReplies
                            : now - file.lastWrite <= kRecentTicketSeconds ? TicketState::Recent
                                                                           : TicketState::Older;
        kept.push_back({file.name, file.lastWrite, state});
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const TrackingEntry& a, const TrackingEntry& b) { return a.lastWrite > b.lastWrite; });
    console.trackingRefresh = 0;
    return kept;
}

void MarkTicketRead(Console& console, const std::string& name) {
    if (!ClearUnreadMark(TicketPath(console, name)))
        PostStatusOnUiThread(console, kMarkNotCleared);
}

void AcknowledgeTicket(Console& console, const std::string& name) {
    int fd = open(TicketPath(console, name).c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        futimens(fd, nullptr);
        close(fd);
    }
    MarkTicketRead(console, name);
}

int DeleteTicket(Console& console, const std::string& name) { return ShredFile(TicketPath(console, name)); }

void CheckTickets(Console& console, const std::vector<std::string>& names) {
    const std::string ownSuffix = OwnSuffix(console.settings.Get());
    HandoffBuffer buffer;
    console.trackingPause = 1;
    for (const std::string& name : names) {
        if (!ownSuffix.empty() && name.find(ownSuffix) != std::string::npos) {
            if (console.op)
                console.op->ShowError(kNetworkTicketRefusal);
            continue;
        }
        buffer.Put(name);
        StartCheckTicketJob(console, buffer);
        buffer.WaitTaken(kCheckHandoffPollMs);
    }
    console.trackingPause = 0;
}

} // namespace brimlow
