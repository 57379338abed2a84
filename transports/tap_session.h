#pragma once
// The TAP session over a connected modem: wake the terminal, log in, send every ready page of the job's
// folder (pages that arrive meanwhile too), one transaction each, then log out.
#include "console/console.h"
#include "serial/serial_port.h"
#include "transports/modem.h"

namespace brimlow {

enum class TapState : int {
    PickMessage = 0,  // load the next page file
    WakeTerminal = 1, // CR every 2 s until "ID="
    AwaitGoAhead = 2, // login sent
    SendBlock = 3,
    AwaitReply = 4, // ACK, NAK or RS for the block
    Done = 5,
};

// A delivered or finally refused page has its file deleted; the others stay. Returns 0.
int RunTapSession(Console& console, SerialPort& port, const DialJob& job);

} // namespace brimlow
