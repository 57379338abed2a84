#include "app/headless.h"

#include "app/queue_scan.h"
#include "queue/status.h"

#include <algorithm>

namespace brimlow {
namespace {
constexpr int kStopCheckMs = 50;
}

// The window's timer, without the window: each scan says when the next one runs; the wait is cut into short
// steps so that a stop request is seen at once. A status line that arrives meanwhile is shown at the next step
// rather than after the rest of the period: its poster is blocked until it is shown, and a TAP call must not
// lose seconds to the console.
void RunHeadlessLoop(Console& console, const std::atomic<bool>& stop, const std::function<void()>& processEvents) {
    int waitMs = kFirstScanMs;
    while (!stop) {
        for (int waited = 0; waited < waitMs && !stop; waited += kStopCheckMs) {
            console.clock->SleepMs(std::min(kStopCheckMs, waitMs - waited));
            if (processEvents)
                processEvents();
            if (StatusWaiting(console))
                break;
        }
        if (stop)
            break;
        waitMs = QueueScan(console).nextPeriodMs;
    }
}

} // namespace brimlow
