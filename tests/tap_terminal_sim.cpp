#include "tests/tap_terminal_sim.h"

#include "tests/support/pty_pair.h"

#include <atomic>
#include <bit>
#include <mutex>
#include <poll.h>
#include <thread>
#include <utility>

namespace brimlow::test {
namespace {

constexpr char STX = 0x02, ETX = 0x03, EOT = 0x04, ACK = 0x06, CR = 0x0D, NAK = 0x15, ESC = 0x1B, ETB = 0x17, RS = 0x1E,
               US = 0x1F;

bool EvenParity(unsigned char byte) {
    return std::popcount(unsigned{byte}) % 2 == 0;
}

} // namespace

struct TapTerminalSim::Terminal {
    enum class Phase { Command, AwaitLogin, Ready, Block, Closed };

    explicit Terminal(TapTerminalScript s) : script(std::move(s)), thread([this] { Run(); }) {}
    ~Terminal() {
        stop = true;
        thread.join();
    }

    void Run() {
        while (!stop && pty.Master() >= 0) {
            pollfd p{pty.Master(), POLLIN, 0};
            char buffer[256];
            ssize_t got = poll(&p, 1, 2) > 0 && (p.revents & POLLIN) ? read(pty.Master(), buffer, sizeof buffer) : 0;
            bool hungUp = got <= 0 && (p.revents & POLLHUP);
            std::unique_lock lock(mutex);
            for (ssize_t i = 0; i < got; ++i) {
                log.parityErrors += !EvenParity(static_cast<unsigned char>(buffer[i]));
                connected = true;
                OnByte(static_cast<char>(buffer[i] & 0x7F));
            }
            if (hungUp && connected) { // the dialer closed its port: the modem goes back on hook
                ++log.hangUps;
                connected = false;
                phase = Phase::Command;
                echo = true;
                line = block = transaction = "";
            }
            lock.unlock();
            if (hungUp)
                usleep(1000);
        }
    }

    void Answer(const std::string& bytes) {
        std::string framed;
        for (unsigned char c : bytes)
            framed += static_cast<char>(EvenParity(c) ? c : c | 0x80);
        pty.Write(framed); // when the other side is gone, the next poll sees the hang-up
    }

    void OnByte(char c) {
        if (phase == Phase::Command) {
            if (echo)
                Answer({c});
            if (c == CR)
                OnCommandLine(std::exchange(line, ""));
            else if (c != '\n')
                line += c;
        } else if (phase == Phase::AwaitLogin && c == EOT) {
            ++log.logouts;
            phase = Phase::Closed;
        } else if (phase == Phase::AwaitLogin) {
            line = c == ESC ? std::string() : line;
            line += c;
            if (c == CR)
                OnLogin(std::exchange(line, ""));
        } else if (phase == Phase::Ready && c == STX) {
            block = c;
            phase = Phase::Block;
        } else if (phase == Phase::Ready && c == EOT) {
            ++log.logouts;
            Answer({ESC, EOT, CR});
            phase = Phase::Closed;
        } else if (phase == Phase::Block) {
            block += c;
            size_t end = block.find_first_of({ETX, ETB, US}); // then three checksum characters and CR
            if (end != std::string::npos && block.size() == end + 5)
                OnBlock(std::exchange(block, ""), end);
        }
    }

    void OnCommandLine(std::string command) {
        while (command.ends_with(' '))
            command.pop_back();
        if (!command.starts_with("AT") && !command.starts_with("at"))
            return; // no attention prefix: not a command
        log.commands.push_back(command);
        echo = command.find("E0") != std::string::npos ? false : command.find("E1") != std::string::npos || echo;
        if (command.size() < 3 || (command[2] != 'D' && command[2] != 'd'))
            return Answer("\r\nOK\r\n");
        tcgetattr(pty.Master(), &log.line); // on a pty master this reads the slave's settings
        const char* results[] = {"CONNECT 2400", "BUSY", "NO CARRIER", "NO DIALTONE"};
        if (script.dial != DialAnswer::Silent)
            Answer(std::string("\r\n") + results[static_cast<int>(script.dial)] + "\r\n");
        if (script.dial == DialAnswer::Connect)
            phase = Phase::AwaitLogin;
    }

    // A CR alone asks for the prompt; ESC PG1 [password] CR is the automatic login for service PG, category 1.
    void OnLogin(const std::string& request) {
        if (!request.starts_with("\x1bPG1")) {
            if (script.promptId)
                Answer("ID=");
            return;
        }
        ++log.logins;
        phase = script.acceptLogin ? Phase::Ready : Phase::Closed;
        if (!script.acceptLogin)
            return Answer({ESC, EOT, CR});
        Answer(std::string("110 1.8\r") + ACK + CR + (script.goAhead ? "\x1b[p\r" : ""));
    }

    // STX body terminator c c c CR, the terminator at end; the checksum is the low 12 bits of the sum of the
    // characters from STX through the terminator, as three characters '0' + nibble.
    void OnBlock(const std::string& received, size_t end) {
        phase = Phase::Ready;
        ++log.blocks;
        unsigned sum = 0;
        for (size_t i = 0; i <= end; ++i)
            sum += static_cast<unsigned char>(received[i]);
        const std::string checksum{char('0' + (sum >> 8 & 0xF)), char('0' + (sum >> 4 & 0xF)), char('0' + (sum & 0xF))};
        if (received.back() != CR || received.substr(end + 1, 3) != checksum) {
            ++log.checksumErrors;
            return Answer({NAK, CR});
        }
        const int number = goodBlocks++;
        if (script.onBlock)
            script.onBlock(number);
        switch (number < int(script.blockAnswers.size()) ? script.blockAnswers[number] : BlockAnswer::Ack) {
        case BlockAnswer::Ack:
            break;
        case BlockAnswer::Nak:
            return Answer({NAK, CR});
        case BlockAnswer::Rs:
            transaction.clear();
            return Answer({RS, CR});
        case BlockAnswer::Silent:
            return;
        case BlockAnswer::HangUp:
            pty.HangUp();
            phase = Phase::Closed;
            return;
        }
        transaction += received.substr(1, end - 1);
        // Fields (the PIN, then the text) end in CR. US splits a field across blocks; ETB and ETX end a block on a
        // field's CR, ETX after the transaction's last field. A transaction that breaks this is refused.
        if (received[end] != US && !transaction.ends_with(CR)) {
            transaction.clear();
            return Answer({RS, CR});
        }
        if (received[end] == ETX) {
            size_t cr = transaction.find(CR);
            log.pages.push_back({transaction.substr(0, cr), transaction.substr(cr + 1, transaction.size() - cr - 2)});
            transaction.clear();
        }
        Answer({ACK, CR});
    }

    TapTerminalScript script;
    PtyPair pty;
    mutable std::mutex mutex; // guards log; the rest belongs to the simulator's thread
    TapTerminalLog log;
    Phase phase = Phase::Command;
    bool echo = true, connected = false;
    std::string line, block, transaction; // the transaction: the accepted block bodies so far
    int goodBlocks = 0;
    std::atomic<bool> stop{false};
    std::thread thread; // last: starts once everything it uses is built
};

TapTerminalSim::TapTerminalSim(TapTerminalScript script) : m_terminal(std::make_unique<Terminal>(std::move(script))) {}
TapTerminalSim::~TapTerminalSim() = default;
const std::string& TapTerminalSim::Device() const {
    return m_terminal->pty.Slave();
}
TapTerminalLog TapTerminalSim::Log() const {
    std::lock_guard lock(m_terminal->mutex);
    return m_terminal->log;
}

} // namespace brimlow::test
