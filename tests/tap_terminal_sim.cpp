#include "tests/tap_terminal_sim.h"

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace brimlow::test {
namespace {

// TAP control characters.
constexpr char STX = 0x02, ETX = 0x03, EOT = 0x04, ACK = 0x06, CR = 0x0D, NAK = 0x15, ESC = 0x1B, ETB = 0x17,
               RS = 0x1E, US = 0x1F;

bool EvenParity(unsigned char byte) { return (std::popcount(static_cast<unsigned>(byte)) & 1) == 0; }

unsigned char WithEvenParity(char c) {
    unsigned char data = static_cast<unsigned char>(c) & 0x7F;
    return EvenParity(data) ? data : static_cast<unsigned char>(data | 0x80);
}

// The TAP block check: the sum of the characters from STX through ETX, ETB or US, its low 12 bits sent as three
// characters '0' + nibble, most significant first.
std::string Checksum(const std::string& block) {
    unsigned sum = 0;
    for (unsigned char c : block)
        sum += c;
    return {static_cast<char>('0' + ((sum >> 8) & 0xF)), static_cast<char>('0' + ((sum >> 4) & 0xF)),
            static_cast<char>('0' + (sum & 0xF))};
}

unsigned BaudOf(speed_t code) {
    switch (code) {
    case B300: return 300;
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
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
        if (poll(&p, 1, 2) <= 0)
            continue;
        char buffer[256];
        ssize_t got = (p.revents & POLLIN) ? read(m_pty.Master(), buffer, sizeof buffer) : 0;
        for (ssize_t i = 0; i < got; ++i) {
            unsigned char byte = static_cast<unsigned char>(buffer[i]);
            ++m_bytes;
            if (!EvenParity(byte))
                ++m_parityErrors;
            m_connected = true;
            OnByte(static_cast<char>(byte & 0x7F));
        }
        if (got <= 0 && (p.revents & POLLHUP)) {
            // The dialer closed its port: the call is over, the modem goes back on hook.
            if (m_connected) {
                ++m_hangUps;
                ResetModem();
            }
            usleep(1000);
        }
    }
}

void TapTerminalSim::ResetModem() {
    m_connected = false;
    m_phase = Phase::Command;
    m_echo = true;
    m_line.clear();
    m_block.clear();
    m_transaction.clear();
}

void TapTerminalSim::Answer(const std::string& bytes) {
    std::string framed;
    for (char c : bytes)
        framed += static_cast<char>(WithEvenParity(c));
    m_pty.Write(framed); // when the other side is gone, the next poll sees the hang-up
}

void TapTerminalSim::HangUp() {
    m_pty.HangUp();
    m_phase = Phase::Closed;
}

void TapTerminalSim::OnByte(char c) {
    switch (m_phase) {
    case Phase::Command:
        if (m_echo)
            Answer(std::string(1, c));
        if (c == CR) {
            std::string line;
            line.swap(m_line);
            OnCommandLine(line);
        } else if (c != '\n') {
            m_line += c;
        }
        break;
    case Phase::AwaitLogin:
        if (c == CR && m_script.promptId) {
            Answer("ID=");
        } else if (c == ESC) {
            m_phase = Phase::Login;
            m_line.assign(1, c);
        } else if (c == EOT) {
            ++m_logouts;
            m_phase = Phase::Logout;
        }
        break;
    case Phase::Login:
        m_line += c;
        if (c != CR)
            break;
        // ESC PG1 [password] CR: the automatic-login request for service PG, category 1.
        if (m_line.compare(0, 4, "\x1bPG1") != 0) {
            m_phase = Phase::AwaitLogin;
            break;
        }
        ++m_logins;
        if (!m_script.acceptLogin) {
            Answer(std::string{ESC, EOT, CR});
            m_phase = Phase::Logout;
        } else {
            Answer(std::string("110 1.8") + CR + ACK + CR);
            if (m_script.goAhead)
                Answer(std::string{ESC, '[', 'p', CR});
            m_phase = Phase::Ready;
        }
        break;
    case Phase::Ready:
        if (c == STX) {
            m_block.assign(1, c);
            m_checksumLeft = -1;
            m_phase = Phase::Block;
        } else if (c == EOT) {
            ++m_logouts;
            Answer(std::string{ESC, EOT, CR});
            m_phase = Phase::Logout;
        }
        break;
    case Phase::Block:
        m_block += c;
        if (m_checksumLeft < 0 && (c == ETX || c == ETB || c == US))
            m_checksumLeft = 4;
        else if (m_checksumLeft > 0 && --m_checksumLeft == 0)
            OnBlockComplete();
        break;
    case Phase::Logout:
    case Phase::Closed:
        break;
    }
}

void TapTerminalSim::OnCommandLine(const std::string& raw) {
    std::string line = raw;
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    if (line.size() < 2 || (line.compare(0, 2, "AT") != 0 && line.compare(0, 2, "at") != 0))
        return; // no attention prefix: not a command
    {
        std::lock_guard lock(m_mutex);
        m_commands.push_back(line);
    }
    if (line.find("E0") != std::string::npos)
        m_echo = false;
    if (line.find("E1") != std::string::npos)
        m_echo = true;
    if (line.size() < 3 || (line[2] != 'D' && line[2] != 'd')) {
        Answer("\r\nOK\r\n");
        return;
    }
    std::string number = line.substr(3);
    if (!number.empty() && (number[0] == 'T' || number[0] == 'P'))
        number.erase(0, 1);
    while (!number.empty() && number[0] == ' ')
        number.erase(0, 1);
    {
        std::lock_guard lock(m_mutex);
        m_dialled.push_back(number);
    }
    termios line_settings{};
    if (tcgetattr(m_pty.Master(), &line_settings) == 0) { // on a pty master this reads the slave's settings
        m_twoStopBits = (line_settings.c_cflag & CSTOPB) != 0;
        m_speed = BaudOf(cfgetospeed(&line_settings));
    }
    switch (m_script.dial) {
    case DialAnswer::Connect:
        Answer("\r\nCONNECT " + std::to_string(m_speed.load()) + "\r\n");
        m_phase = Phase::AwaitLogin;
        break;
    case DialAnswer::Busy: Answer("\r\nBUSY\r\n"); break;
    case DialAnswer::NoCarrier: Answer("\r\nNO CARRIER\r\n"); break;
    case DialAnswer::NoDialtone: Answer("\r\nNO DIALTONE\r\n"); break;
    case DialAnswer::Silent: break;
    }
}

void TapTerminalSim::OnBlockComplete() {
    m_phase = Phase::Ready;
    std::string block;
    block.swap(m_block);
    {
        std::lock_guard lock(m_mutex);
        m_blocks.push_back(block);
    }
    // STX body terminator c c c CR
    size_t terminatorAt = block.size() - 5;
    char terminator = block[terminatorAt];
    if (block.back() != CR || Checksum(block.substr(0, terminatorAt + 1)) != block.substr(terminatorAt + 1, 3)) {
        ++m_checksumErrors;
        Answer(std::string{NAK, CR});
        return;
    }
    int number = m_goodBlocks++;
    if (m_script.onBlock)
        m_script.onBlock(number);
    BlockAnswer answer = number < static_cast<int>(m_script.blockAnswers.size()) ? m_script.blockAnswers[number]
                                                                               : BlockAnswer::Ack;
    switch (answer) {
    case BlockAnswer::Ack: {
        m_transaction += block.substr(1, terminatorAt - 1);
        if (terminator != ETX)
            break;
        // Fields end in CR; the last one is followed by ETX.
        TapPage page;
        size_t cr = m_transaction.find(CR);
        page.pin = m_transaction.substr(0, cr);
        if (cr != std::string::npos) {
            page.text = m_transaction.substr(cr + 1);
            if (!page.text.empty() && page.text.back() == CR)
                page.text.pop_back();
        }
        m_transaction.clear();
        std::lock_guard lock(m_mutex);
        m_pages.push_back(page);
        break;
    }
    case BlockAnswer::Nak: Answer(std::string{NAK, CR}); return;
    case BlockAnswer::Rs: m_transaction.clear(); Answer(std::string{RS, CR}); return;
    case BlockAnswer::Silent: return;
    case BlockAnswer::HangUp: HangUp(); return;
    }
    Answer(std::string{ACK, CR});
}

} // namespace brimlow::test
