#pragma once
// The send-queue worker: one pass over the disk queue. Root SNPP pages are sent one after the other, each
// e-mail packet goes to an SMTP daemon of its own, and held modem pages are released for dialling. Several
// workers may run at once; each file is taken by exactly one of them. An SNPP page that fails for the moment (no
// connection, no reply, a 4xx reply) goes back into the queue under a fresh name for the next run, until a day
// after it was queued.
#include "console/console.h"

#include <string>

namespace brimlow {

// Starts one worker thread and returns at once. False when no thread could be started: the queue waits.
bool StartSendQueueWorker(Console& console);

// The worker's pass, on the calling thread; returns when the SNPP pages are sent, the e-mail packets handed
// over and the held pages released (the SMTP daemons may still run).
void RunSendQueueWorker(Console& console);

// Renames D/n/MSQname to D/n/MSGname without replacing a file of that name; where one exists the page takes a
// fresh ready name. False when the held page is gone (another worker released it) or cannot be renamed.
bool ReleaseHeldPage(Console& console, const std::string& folder, const std::string& heldName);

} // namespace brimlow
