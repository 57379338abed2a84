#include "tests/tap_terminal_sim.h"

#include <bit>
#include <poll.h>
#include <utility>

namespace brimlow::test {
namespace {

constexpr char STX = 0x02, ETX = 0x03, EOT = 0x04, ACK = 0x06, CR = 0x0D, NAK = 0x15, ESC = 0x1B, ETB = 0x17, RS = 0x1E,
               US = 0x1F;

bool EvenParity(unsigned char byte) {
    return std::popcount(unsigned{byte}) % 2 == 0;
}

// The sum of the characters from STX through ETX, ETB or US: its low 12 bits as three characters '0' + nibble.
std::string Checksum(const std::string& block) {
    unsigned sum = 0;
    for (unsigned char c : block)
        sum += c;
    return {char('0' + (sum >> 8 & 0xF)), char('0' + (sum >> 4 & 0xF)), char('0' + (sum & 0xF))};
}

} // namespace

TapTerminalSim::TapTerminalSim(TapTerminalScript script) : m_script(std::move(script)) {
    m_thread = std::thread([this] { Run(); });
}

TapTerminalSim::~TapTerminalSim() {
    m_stop = true;
    m_thread.join();
}

void TapTerminalSim::Run() {
    while (!m_stop && m_pty.Master() >= 0) {
        pollfd p{m_pty.Master(), POLLIN, 0};
        char buffer[256];
        ssize_t got = poll(&p, 1, 2) > 0 && (p.revents & POLLIN) ? read(m_pty.Master(), buffer, sizeof buffer) : 0;
        bool hungUp = got <= 0 && (p.revents & POLLHUP);
        std::unique_lock lock(m_mutex);
        for (ssize_t i = 0; i < got; ++i) {
            ++m_log.bytes;
            m_log.parityErrors += !EvenParity(static_cast<unsigned char>(buffer[i]));
            m_connected = true;
            OnByte(static_cast<char>(buffer[i] & 0x7F));
        }
        if (hungUp && m_connected) { // the dialer closed its port: the modem goes back on hook
            ++m_log.hangUps;
            m_connected = false;
            m_phase = Phase::Command;
            m_echo = true;
            m_line = m_block = m_transaction = "";
        }
        lock.unlock();
        if (hungUp)
            usleep(1000);
    }
}

void TapTerminalSim::Answer(const std::string& bytes) {
    std::string framed;
    for (unsigned char c : bytes)
        framed += static_cast<char>(EvenParity(c) ? c : c | 0x80);
    m_pty.Write(framed); // when the other side is gone, the next poll sees the hang-up
}

void TapTerminalSim::OnByte(char c) {
    switch (m_phase) {
    case Phase::Command:
        if (m_echo)
            Answer({c});
        if (c == CR)
            OnCommandLine(std::exchange(m_line, ""));
        else if (c != '\n')
            m_line += c;
        return;
    case Phase::AwaitLogin:
        if (c == CR && m_script.promptId)
            Answer("ID=");
        if (c == ESC) {
            m_phase = Phase::Login;
            m_line = c;
        }
        if (c == EOT) {
            ++m_log.logouts;
            m_phase = Phase::Closed;
        }
        return;
    case Phase::Login:
        m_line += c;
        if (c != CR)
            return;
        // ESC PG1 [password] CR: the automatic-login request for service PG, category 1.
        m_phase = !m_line.starts_with("\x1bPG1") ? Phase::AwaitLogin
                  : m_script.acceptLogin         ? Phase::Ready
                                                 : Phase::Closed;
        if (m_phase != Phase::AwaitLogin)
            ++m_log.logins;
        if (m_phase == Phase::Closed)
            Answer({ESC, EOT, CR});
        if (m_phase == Phase::Ready)
            Answer(std::string("110 1.8\r") + ACK + CR + (m_script.goAhead ? "\x1b[p\r" : ""));
        return;
    case Phase::Ready:
        if (c == STX) {
            m_block = c;
            m_phase = Phase::Block;
        }
        if (c == EOT) {
            ++m_log.logouts;
            Answer({ESC, EOT, CR});
            m_phase = Phase::Closed;
        }
        return;
    case Phase::Block: {
        m_block += c;
        size_t end = m_block.find_first_of({ETX, ETB, US}); // followed by three checksum characters and CR
        if (end != std::string::npos && m_block.size() == end + 5)
            OnBlock();
        return;
    }
    case Phase::Closed:
        return;
    }
}

void TapTerminalSim::OnCommandLine(std::string line) {
    while (line.ends_with(' '))
        line.pop_back();
    if (!line.starts_with("AT") && !line.starts_with("at"))
        return; // no attention prefix: not a command
    m_log.commands.push_back(line);
    m_echo = line.find("E0") != std::string::npos ? false : line.find("E1") != std::string::npos ? true : m_echo;
    if (line.size() < 3 || (line[2] != 'D' && line[2] != 'd'))
        return Answer("\r\nOK\r\n");
    std::string number = line.substr(line.size() > 3 && (line[3] == 'T' || line[3] == 'P') ? 4 : 3);
    m_log.dialled.push_back(number.erase(0, std::min(number.find_first_not_of(' '), number.size())));
    tcgetattr(m_pty.Master(), &m_log.line); // on a pty master this reads the slave's settings
    const char* results[] = {"CONNECT 2400", "BUSY", "NO CARRIER", "NO DIALTONE"};
    if (m_script.dial != DialAnswer::Silent)
        Answer(std::string("\r\n") + results[static_cast<int>(m_script.dial)] + "\r\n");
    if (m_script.dial == DialAnswer::Connect)
        m_phase = Phase::AwaitLogin;
}

void TapTerminalSim::OnBlock() {
    m_phase = Phase::Ready;
    const std::string block = std::exchange(m_block, "");
    m_log.blocks.push_back(block);
    const size_t end = block.size() - 5; // STX body terminator c c c CR
    if (block.back() != CR || Checksum(block.substr(0, end + 1)) != block.substr(end + 1, 3)) {
        ++m_log.checksumErrors;
        return Answer({NAK, CR});
    }
    const int number = m_goodBlocks++;
    if (m_script.onBlock)
        m_script.onBlock(number);
    const auto& answers = m_script.blockAnswers;
    switch (number < static_cast<int>(answers.size()) ? answers[number] : BlockAnswer::Ack) {
    case BlockAnswer::Ack:
        break;
    case BlockAnswer::Nak:
        return Answer({NAK, CR});
    case BlockAnswer::Rs:
        m_transaction.clear();
        return Answer({RS, CR});
    case BlockAnswer::Silent:
        return;
    case BlockAnswer::HangUp:
        m_pty.HangUp();
        m_phase = Phase::Closed;
        return;
    }
    m_transaction += block.substr(1, end - 1);
    if (block[end] == ETX) { // fields end in CR, the last one followed by ETX
        size_t cr = m_transaction.find(CR);
        TapPage page{m_transaction.substr(0, cr), cr == std::string::npos ? "" : m_transaction.substr(cr + 1)};
        if (page.text.ends_with(CR))
            page.text.pop_back();
        m_log.pages.push_back(page);
        m_transaction.clear();
    }
    Answer({ACK, CR});
}

} // namespace brimlow::test
