#include "app/headless.h"

#include "app/queue_scan.h"

#include <algorithm>

namespace brimlow {
namespace {
constexpr int kStopCheckMs = 50;
}

// The window's timer, without the window: each scan says when the next one runs; the wait is cut into short
// steps so that a stop request is seen at once.
void RunHeadlessLoop(Console& console, const std::atomic<bool>& stop, const std::function<void()>& processEvents) {
    int waitMs = kFirstScanMs;
    while (!stop) {
        for (int waited = 0; waited < waitMs && !stop; waited += kStopCheckMs) {
            console.clock->SleepMs(std::min(kStopCheckMs, waitMs - waited));
            if (processEvents)
                processEvents();
        }
        if (stop)
            break;
        waitMs = QueueScan(console).nextPeriodMs;
    }
}

} // namespace brimlow
