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
    // The answer to each block whose checksum is right, in order; ACK once the list is used up. A block with
    // a wrong checksum is always answered NAK.
    std::vector<BlockAnswer> blockAnswers;
    // Called with the number (from 0) of each block with a right checksum, before it is answered.
    std::function<void(int block)> onBlock;
};

struct TapPage {
    std::string pin;
    std::string text;
    bool operator==(const TapPage&) const = default;
    friend void PrintTo(const TapPage& page, std::ostream* os) { *os << page.pin << ": " << page.text; }
};

class TapTerminalSim {
public:
    explicit TapTerminalSim(TapTerminalScript script = {});
    ~TapTerminalSim();
    TapTerminalSim(const TapTerminalSim&) = delete;
    TapTerminalSim& operator=(const TapTerminalSim&) = delete;

    // The device the dialer opens.
    const std::string& Device() const { return m_pty.Slave(); }

    std::vector<TapPage> Pages() const { return Locked(m_pages); }            // transactions the terminal accepted
    std::vector<std::string> Blocks() const { return Locked(m_blocks); }     // every block as it arrived, 7-bit
    std::vector<std::string> Commands() const { return Locked(m_commands); } // AT command lines
    std::vector<std::string> DialledNumbers() const { return Locked(m_dialled); }
    int Logins() const { return m_logins.load(); }
    int Logouts() const { return m_logouts.load(); }
    int ChecksumErrors() const { return m_checksumErrors.load(); }
    int ParityErrors() const { return m_parityErrors.load(); }
    int BytesReceived() const { return m_bytes.load(); }
    int HangUps() const { return m_hangUps.load(); }
    // The line settings the dialer's side held when it dialled.
    bool TwoStopBits() const { return m_twoStopBits.load(); }
    unsigned Speed() const { return m_speed.load(); }

private:
    enum class Phase { Command, AwaitLogin, Login, Ready, Block, Logout, Closed };

    void Run();
    void OnByte(char c);
    void OnCommandLine(const std::string& line);
    void OnBlockComplete();
    void Answer(const std::string& bytes);
    void HangUp();
    void ResetModem();
    template <typename T> T Locked(const T& value) const {
        std::lock_guard lock(m_mutex);
        return value;
    }

    TapTerminalScript m_script;
    PtyPair m_pty;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};

    // The simulator thread's own state.
    Phase m_phase = Phase::Command;
    bool m_echo = true;
    bool m_connected = false;
    std::string m_line;
    std::string m_block;
    int m_checksumLeft = -1;   // checksum characters and CR still to come after the block's terminator
    std::string m_transaction; // accepted block bodies of the transaction under way
    int m_goodBlocks = 0;

    mutable std::mutex m_mutex;
    std::vector<TapPage> m_pages;
    std::vector<std::string> m_blocks;
    std::vector<std::string> m_commands;
    std::vector<std::string> m_dialled;
    std::atomic<int> m_logins{0};
    std::atomic<int> m_logouts{0};
    std::atomic<int> m_checksumErrors{0};
    std::atomic<int> m_parityErrors{0};
    std::atomic<int> m_bytes{0};
    std::atomic<int> m_hangUps{0};
    std::atomic<bool> m_twoStopBits{false};
    std::atomic<unsigned> m_speed{0};
};

} // namespace brimlow::test
