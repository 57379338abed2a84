#include "app/queue_scan.h"

#include "console/play_sound.h"
#include "queue/status.h"
#include "transports/modem.h"

namespace brimlow {

ScanOutcome QueueScan(Console& console) {
    ScanOutcome outcome;
    if (std::optional<std::string> line = TakeStatus(console)) {
        if (console.op)
            console.op->AddResultLine(*line);
        outcome.statusShown = true;
        outcome.nextPeriodMs = kStatusScanMs;
        return outcome;
    }
    outcome.counts = CountQueue(console.dataDir);
    outcome.sentPages = console.sentPages.load();
    outcome.failedPages = console.failedPages.load();

    const QueueCounts& counts = outcome.counts;
    if (console.dialBusy.load() == 0 && counts.pendingModem != 0) {
        if (counts.chosenCompany >= 0)
            outcome.dialStarted = StartDirectDial(console, counts.chosenCompany);
        // A dial run that ended at once (a port that would not open) has cleared the flag again already.
        if (!outcome.dialStarted && console.dialBusy.load() == 0 && !counts.chosenEntry.empty())
            outcome.dialStarted = StartQueuedDial(console, counts.chosenEntry, counts.chosenEntryCompany);
    }

    if (console.networkBusy.load() == 0 && console.networkScanStep)
        console.networkScanStep();
    if (console.received.exchange(0) != 0)
        PlaySoundFile(console, kReceiveSound);
    bool tracking = console.trackingRefresh.exchange(0) != 0;
    bool second = console.secondRefresh.exchange(0) != 0;
    outcome.refreshLists = tracking || second;
    outcome.nextPeriodMs = kScanPeriodMs;
    return outcome;
}

} // namespace brimlow
