#pragma once
// The console's main loop: one run of the queue scan. The window's single-shot timer and the headless runner
// both call it and wait the period it returns before the next run, so runs never overlap.
#include "console/console.h"
#include "queue/queue_count.h"

namespace brimlow {

constexpr int kFirstScanMs = 100;
constexpr int kStatusScanMs = 100; // status lines are shown at up to ten a second
constexpr int kScanPeriodMs = 2000;

struct ScanOutcome {
    int nextPeriodMs = kScanPeriodMs;
    bool statusShown = false; // this run only showed a status line
    QueueCounts counts;       // the Queue label shows counts.queueCount
    int sentPages = 0;        // the Sent label
    int failedPages = 0;      // the Rejected label
    bool dialStarted = false;
    bool refreshLists = false; // a refresh flag was set: refill the tracking and subscriber lists
};

// Shows one waiting status line through console.op and ends; otherwise counts the queue, starts at most one
// dial run (company folders before network queue entries), runs the network step, plays "receive.wav" when
// tickets arrived, and reports the refresh flags.
ScanOutcome QueueScan(Console& console);

} // namespace brimlow
