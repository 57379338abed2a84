#pragma once
// The console without a window: the same start-up, the periodic work of the window's timer in a loop of its
// own, status lines on standard output, and the orderly shut-down on SIGINT or SIGTERM.
#include "console/console.h"
#include "console/settings.h"

#include <atomic>

namespace brimlow {

// Runs the queue scan at the periods it asks for until stop becomes true; status lines go to console.op.
// processEvents is called between the loop's steps (the single-instance guard, the sound player).
void RunHeadlessLoop(Console& console, const std::atomic<bool>& stop, const std::function<void()>& processEvents);

} // namespace brimlow
