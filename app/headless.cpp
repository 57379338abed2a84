#include "app/headless.h"

#include "app/queue_scan.h"
#include "queue/status.h"

namespace brimlow {

void RunHeadlessLoop(Console& console, const std::atomic<bool>& stop, const WaitForWork& wait) {
    int64_t due = console.clock->NowMs() + kFirstScanMs;
    while (!stop) {
        int64_t left = due - console.clock->NowMs();
        if (left > 0 && !StatusWaiting(console))
            wait(static_cast<int>(left));
        else
            due = console.clock->NowMs() + QueueScan(console).nextPeriodMs;
    }
}

} // namespace brimlow
