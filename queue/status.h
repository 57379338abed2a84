#pragma once
// The status channel: every progress line of every worker goes to MSNPP.LOG at once and, through a one-line
// mailbox, to the Result list, which takes one line per 100 ms. A burst of lines slows its senders to that pace.
#include "console/console.h"

#include <optional>
#include <string>

namespace brimlow {

constexpr size_t kStatusCopyLimit = 3999;
constexpr size_t kMailboxLimit = 1999;

constexpr int kExitCheckMs = 100; // how soon a waiting poster sees the exiting flag

// Blocks while the mailbox holds a line, unless the console is exiting (the line then goes to the log only);
// never fails.
void PostStatus(Console& console, const std::string& text);

// For code on the user-interface thread, which empties the mailbox itself and so must never wait on it: the line
// goes to MSNPP.LOG and straight to the Result list through the operator interface.
void PostStatusOnUiThread(Console& console, const std::string& text);

// The consumer's side: takes the waiting line and frees the mailbox.
std::optional<std::string> TakeStatus(Console& console);

// True when a line waits in the mailbox; takes nothing.
bool StatusWaiting(Console& console);

// Waits up to timeoutMs for a line (for consumers that are not a window timer).
std::optional<std::string> WaitStatus(Console& console, int timeoutMs);

} // namespace brimlow
