#pragma once
// The console without a window: the same start-up, the periodic work of the window's timer in a loop of its
// own, status lines on standard output, and the orderly shut-down on SIGINT or SIGTERM.
#include "console/console.h"

#include <atomic>
#include <functional>

namespace brimlow {

// Sleeps up to timeoutMs, or until console.wake or whatever else the caller's event loop serves wakes it.
using WaitForWork = std::function<void(int timeoutMs)>;

// Runs the queue scan at the periods it asks for until stop becomes true; status lines go to console.op. A
// posted status line is shown at once, as its poster waits until it is: a TAP call must not lose time to the
// console. Between scans the loop only waits; whoever sets stop wakes console.wake.
void RunHeadlessLoop(Console& console, const std::atomic<bool>& stop, const WaitForWork& wait);

} // namespace brimlow
