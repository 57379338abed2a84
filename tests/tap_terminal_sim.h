#pragma once
// The far end of a serial line, on a pseudo-terminal's master side: a Hayes modem and behind it a TAP paging
// terminal, written from the protocol descriptions alone. Every byte is 7 data bits with even parity.
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <termios.h>
#include <vector>

namespace brimlow::test {

enum class DialAnswer { Connect, Busy, NoCarrier, NoDialtone, Silent };
enum class BlockAnswer { Ack, Nak, Rs, Silent, HangUp };

struct TapTerminalScript {
    DialAnswer dial = DialAnswer::Connect;
    bool promptId = true;                   // answer CR with "ID="
    bool acceptLogin = true;                // false: ESC EOT
    bool goAhead = true;                    // false: say nothing after the login
    std::vector<BlockAnswer> blockAnswers;  // for the blocks with a right checksum, in order, then ACK (else NAK)
    std::function<void(int block)> onBlock; // called with the number of each right block before its answer
};

struct TapPage {
    std::string pin, text;
    bool operator==(const TapPage&) const = default;
    friend void PrintTo(const TapPage& page, std::ostream* os) { *os << page.pin << ": " << page.text; }
};

struct TapTerminalLog {
    std::vector<TapPage> pages;        // the transactions accepted
    std::vector<std::string> commands; // the AT command lines
    int logins = 0, logouts = 0, hangUps = 0, blocks = 0, parityErrors = 0, checksumErrors = 0;
    termios line{}; // the dialer's line settings when it dialled
};

class TapTerminalSim {
public:
    explicit TapTerminalSim(TapTerminalScript script = {});
    ~TapTerminalSim();
    const std::string& Device() const; // the device the dialer opens
    TapTerminalLog Log() const;

private:
    struct Terminal;
    std::unique_ptr<Terminal> m_terminal;
};

} // namespace brimlow::test
