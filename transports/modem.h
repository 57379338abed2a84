#pragma once
// Paging by modem: the dial thread opens the company's COM port at 7E1, initialises a Hayes modem, dials the
// paging terminal and, on CONNECT, runs the TAP session over every ready page of the company's folder. One dial
// thread runs at a time; Console::dialBusy holds company index + 1 while it runs.
#include "console/console.h"
#include "serial/serial_port.h"

#include <string>

namespace brimlow {

constexpr int kModemSettleMs = 2000;       // after the wake-up CR and after the init string
constexpr int kModemResultSeconds = 60;    // for CONNECT, BUSY, NO CARRIER, NO DIALTONE
constexpr size_t kModemResultLine = 50;    // a longer modem line is shown in pieces

struct DialJob {
    int companyIndex = 0;
    int networkTab = 0; // the company record comes from the network directory
    int queued = 0;     // a network queue entry: snapshot and queueEntry are valid
    std::string queueEntry;
    CompanyRecord snapshot{}; // the company dialled
};

// "^" waits a second, "|" drops DTR for a second (the modem hangs up), "~" is CR; the rest goes as it is.
void SendModemString(Console& console, SerialPort& port, const std::string& text);
// Each character, pausing 100 ms at a time while the output buffer is full.
void SendBlockString(Console& console, SerialPort& port, const std::string& text);

// The company's own folder D/n. Returns whether company n is being served (already or now).
bool StartDirectDial(Console& console, int companyIndex);
// A client's queue entry D/Queue/entry/k, dialled with its stored Company.dat on the ModemPort port. False
// when the entry cannot be served now; the next scan tries again.
bool StartQueuedDial(Console& console, const std::string& entry, int companyIndex);

// The dial thread's body; clears dialBusy as its last action on every path.
void RunDialJob(Console& console, const DialJob& job);

// The folder whose ready pages a job sends.
std::string DialJobFolder(const Console& console, const DialJob& job);

} // namespace brimlow
