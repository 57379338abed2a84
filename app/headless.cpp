#include "app/headless.h"

#include "queue/status.h"

#include <cstdio>

namespace brimlow {
namespace {
constexpr int kStatusPeriodMs = 100;
// Until the queue scan runs here, the LAN client's step runs at the scan's period on its own.
constexpr int kNetworkStepPeriodMs = 2000;
}

void RunHeadlessLoop(Console& console, const std::atomic<bool>& stop, const std::function<void()>& processEvents) {
    int64_t nextNetworkStep = console.clock->NowMs();
    while (!stop) {
        if (std::optional<std::string> line = WaitStatus(console, kStatusPeriodMs))
            console.op->AddResultLine(*line);
        if (console.networkScanStep && console.clock->NowMs() >= nextNetworkStep) {
            console.networkScanStep();
            nextNetworkStep = console.clock->NowMs() + kNetworkStepPeriodMs;
        }
        if (processEvents)
            processEvents();
    }
}

} // namespace brimlow
