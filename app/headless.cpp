#include "app/headless.h"

#include "queue/status.h"

#include <cstdio>

namespace brimlow {
namespace {
constexpr int kStatusPeriodMs = 100;
}

void RunHeadlessLoop(Console& console, const std::atomic<bool>& stop, const std::function<void()>& processEvents) {
    while (!stop) {
        if (std::optional<std::string> line = WaitStatus(console, kStatusPeriodMs))
            console.op->AddResultLine(*line);
        if (processEvents)
            processEvents();
    }
}

} // namespace brimlow
