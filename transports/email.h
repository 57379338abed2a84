#pragma once
// E-mail paging: the packet (queue/email_packet.h) is written at once, then one SMTP daemon thread per packet
// delivers and shreds it. A packet whose delivery failed for the moment (no connection, no reply, a 4xx reply)
// stays for the next daemon started on it, for a day from its writing; a refused one (5xx) is shredded.
#include "console/console.h"
#include "console/handoff_buffer.h"

#include <string>

namespace brimlow {

// The one-place buffer through which a starter hands a packet path to its daemon; the daemon empties it once it
// has copied the path.
using PathHandoff = HandoffBuffer;

// Starts one SMTP daemon thread on the path in handoff. A packet that another daemon (of this or another
// process) is serving is left to it, so a packet listed twice is still delivered once. False when no thread
// could be started: the path is taken back out of handoff and the packet stays for the next pass.
bool StartSmtpDaemon(Console& console, PathHandoff& handoff);

// For every EMG packet of the data directory, in listing order: start a daemon on it and wait, checking every
// pollMs, until the daemon has taken the path. False when a daemon could not be started; the packets from there
// on stay for the next pass.
bool StartSmtpDaemonsForPackets(Console& console, int pollMs);

// Every EMG packet of the data directory, in listing order, delivered one after the other on the calling thread
// (a thread that is itself a bounded job); a packet another daemon serves is left to it.
void DeliverEmailPackets(Console& console);

} // namespace brimlow
