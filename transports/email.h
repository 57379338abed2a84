#pragma once
// E-mail paging: a packet file (EMG) written at once, then one SMTP daemon thread per packet that delivers and
// shreds it.
#include "app/console.h"

#include <condition_variable>
#include <mutex>
#include <string>

namespace brimlow {

// The one-place buffer through which a starter hands a packet path to its daemon; the daemon empties it once it
// has copied the path.
class PathHandoff {
public:
    void Put(const std::string& path);
    std::string Take();
    // Waits, checking every pollMs, until the daemon has taken the path.
    void WaitTaken(int pollMs);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_path;
};

// Returns 1 when the packet is complete, 0 on failure (after posting its status lines).
int WriteEmailPacket(Console& console, SubscriberRecord record, const std::string& subject, const std::string& text);

// Starts one SMTP daemon thread on the path in handoff.
void StartSmtpDaemon(Console& console, PathHandoff& handoff);

// For every EMG packet of the data directory, in listing order: start a daemon on it and wait, checking every
// pollMs, until the daemon has taken the path.
void StartSmtpDaemonsForPackets(Console& console, int pollMs);

// Truncates the file to zero length, then removes it; 1 when it existed.
int ShredFile(const std::string& path);

} // namespace brimlow
