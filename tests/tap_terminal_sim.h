#pragma once
// The far end of a serial line for the dialer's tests, on the master side of a pseudo-terminal: a Hayes modem
// that takes AT commands and dials, and behind it a TAP paging terminal that prompts "ID=", takes the automatic
// login, checks every block's checksum and puts the blocks of each transaction back together. Every byte is
// checked for 7 data bits with even parity and sent the same way. Written from the protocol descriptions alone.
#include "tests/support/pty_pair.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <termios.h>
#include <thread>
#include <vector>

namespace brimlow::test {

enum class DialAnswer { Connect, Busy, NoCarrier, NoDialtone, Silent };
enum class BlockAnswer { Ack, Nak, Rs, Silent, HangUp };

struct TapTerminalScript {
    DialAnswer dial = DialAnswer::Connect;
    bool promptId = true;    // answer CR with "ID="
    bool acceptLogin = true; // false: ESC EOT
    bool goAhead = true;     // false: say nothing after the login
    // The answers to the blocks whose checksum is right, in order, then ACK; a wrong checksum is answered NAK.
    std::vector<BlockAnswer> blockAnswers;
    std::function<void(int block)> onBlock; // called with the number of each right block before its answer
};

struct TapPage {
    std::string pin, text;
    bool operator==(const TapPage&) const = default;
    friend void PrintTo(const TapPage& page, std::ostream* os) { *os << page.pin << ": " << page.text; }
};

struct TapTerminalLog {
    std::vector<TapPage> pages;                // the transactions accepted
    std::vector<std::string> blocks, commands; // every block as it arrived (7-bit), the AT command lines
    std::vector<std::string> dialled;
    int logins = 0, logouts = 0, hangUps = 0, bytes = 0, parityErrors = 0, checksumErrors = 0;
    termios line{}; // the dialer's line settings when it dialled
};

class TapTerminalSim {
public:
    explicit TapTerminalSim(TapTerminalScript script = {});
    ~TapTerminalSim();
    const std::string& Device() const { return m_pty.Slave(); } // the device the dialer opens
    TapTerminalLog Log() const {
        std::lock_guard lock(m_mutex);
        return m_log;
    }
    std::vector<TapPage> Pages() const { return Log().pages; }

private:
    enum class Phase { Command, AwaitLogin, Login, Ready, Block, Closed };
    void Run();
    void OnByte(char c);
    void OnCommandLine(std::string line);
    void OnBlock();
    void Answer(const std::string& bytes);

    TapTerminalScript m_script;
    PtyPair m_pty;
    mutable std::mutex m_mutex; // guards m_log; the rest belongs to the simulator's thread
    TapTerminalLog m_log;
    Phase m_phase = Phase::Command;
    bool m_echo = true, m_connected = false;
    std::string m_line, m_block, m_transaction; // the transaction: the accepted block bodies so far
    int m_goodBlocks = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace brimlow::test
