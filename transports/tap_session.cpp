#include "transports/tap_session.h"

#include "directory/data_files.h"
#include "queue/file_listing.h"
#include "queue/message_file.h"
#include "queue/status.h"
#include "serial/serial_facade.h"
#include "transports/tap_protocol.h"
#include "transports/trace.h"

#include <unistd.h>
#include <vector>

namespace brimlow {
namespace {

constexpr int kPassMs = 10;
constexpr int kQuietGapMs = 600;
constexpr int kRefindMs = 200;
constexpr int kHangUpSettleMs = 18;

class TapSession {
public:
    TapSession(Console& console, SerialPort& port, const DialJob& job)
        : m_console(console), m_port(port), m_clock(*console.clock), m_folder(DialJobFolder(console, job)),
          m_company(GetText(job.snapshot.Name)) {}

    int Run() {
        ClearBuffers(m_port, kClearInput | kClearOutput);
        m_rx.clear();
        Post("Sending CR...");
        Send(std::string(1, kCr));
        m_deadline = m_clock.Now() + kTapCrIntervalSeconds;
        m_state = TapState::WakeTerminal;
        m_crCount = 0;
        m_retries = 0;
        m_noMoreFiles = !OpenFind();
        if (!CarrierDetect(m_port))
            return ConnectionLost();
        for (;;) {
            // At exit the call ends politely; pages not yet accepted stay queued for the next start.
            if (m_console.exiting)
                return Logout();
            if (m_state == TapState::PickMessage && !PickMessage()) {
                if (!CarrierDetect(m_port))
                    return ConnectionLost();
                continue;
            }
            m_clock.SleepMs(kPassMs);
            if (m_state == TapState::WakeTerminal && m_clock.Now() > m_deadline) {
                Send(std::string(1, kCr));
                m_deadline = m_clock.Now() + kTapCrIntervalSeconds;
                ++m_crCount;
                Post("Sending CR...");
            }
            if (m_state == TapState::WakeTerminal && m_crCount > kTapMaxCrResends) {
                Post("Tries expired waiting for ID= from terminal " + m_company);
                m_rx.clear();
                m_state = TapState::Done;
            }
            if (m_state != TapState::WakeTerminal && m_clock.Now() > m_deadline) {
                m_rx.clear();
                ++m_retries;
                Post("Time out waiting for terminal " + m_company);
                if (m_retries >= kTapBlockRetries && m_state == TapState::AwaitReply) {
                    m_console.failedPages.fetch_add(1);
                    Post("Time out retries exausted! PIN=" + m_pin + " Company=" + m_company);
                    unlink(m_path.c_str());
                    return GoAheadLost();
                }
                if (m_state != TapState::AwaitReply)
                    return GoAheadLost();
                m_state = TapState::SendBlock;
            }
            Receive();
            m_clock.SleepMs(0);
            if (std::optional<int> end = Respond())
                return *end;
            if (m_state == TapState::SendBlock)
                SendCurrentBlock();
            else if (m_state == TapState::Done)
                return Logout();
            if (!CarrierDetect(m_port))
                return ConnectionLost();
        }
    }

private:
    void Post(const std::string& text) { PostStatus(m_console, text); }

    void Send(const std::string& bytes) {
        TraceBytes(TraceArea::Tap, true, bytes);
        SendBlockString(m_console, m_port, bytes);
    }

    bool Has(std::string_view text) const { return m_rx.find(text) != std::string::npos; }

    // The find over the folder: the names listed now, taken one after the other.
    bool OpenFind() {
        m_found = ListNames(m_folder, "MSG*.*");
        m_next = 0;
        return !m_found.empty();
    }

    // State 0. Returns false when the pass ends here (no page, or an unreadable one).
    bool PickMessage() {
        m_clock.SleepMs(kPassMs);
        m_offset = 0;
        m_multiBlock = false;
        if (m_noMoreFiles) {
            // Pages may have arrived while the others were sent.
            m_clock.SleepMs(kRefindMs);
            if (!OpenFind()) {
                m_state = TapState::Done;
                return false;
            }
            m_noMoreFiles = false;
        }
        m_state = TapState::SendBlock;
        m_path = JoinPath(m_folder, m_found[m_next++]);
        if (m_next >= m_found.size()) {
            m_found.clear();
            m_noMoreFiles = true;
        }
        // A file too short to hold the subscriber record cannot be sent: it counts as unreadable.
        std::optional<MessageFile> file = ReadMessageFile(m_path, kTapMessageLimit);
        if (!file) {
            Post("Unable to open message packet!");
            unlink(m_path.c_str());
            m_state = TapState::PickMessage;
            m_clock.SleepMs(kPassMs);
            return false;
        }
        m_pin = TapFieldText(GetText(file->record.PIN));
        m_text = TapFieldText(file->text);
        return true;
    }

    void Receive() {
        if (IsRxEmpty(m_port))
            return;
        std::string burst;
        for (;;) {
            m_clock.SleepMs(0);
            int c = ReadChar(m_port);
            if (c < 0)
                break;
            burst += static_cast<char>(c);
            if (m_rx.size() >= kTapReceiveBuffer) {
                m_rx.clear();
                break;
            }
            m_rx += static_cast<char>(c);
            if (IsRxEmpty(m_port)) {
                m_clock.SleepMs(kQuietGapMs);
                if (IsRxEmpty(m_port))
                    break;
            }
        }
        TraceBytes(TraceArea::Tap, false, burst);
    }

    void Accepted() {
        m_console.sentPages.fetch_add(1);
        Post("Page Accepted!");
        unlink(m_path.c_str());
        m_retries = 0;
    }

    // The terminal's replies in the states that wait for them. A value ends the session.
    std::optional<int> Respond() {
        const time_t now = m_clock.Now();
        if (m_state == TapState::WakeTerminal && Has(kTapIdPrompt)) {
            Post("Received 'ID=', attempting login . . .");
            m_deadline = now + kTapLoginTimeoutSeconds;
            Send(kTapLogin);
            m_rx.clear();
            m_state = TapState::AwaitGoAhead;
        } else if (m_state == TapState::AwaitGoAhead && Has(kTapGoAhead)) {
            Post("Login Accepted!");
            m_deadline = now + kTapBlockTimeoutSeconds;
            m_rx.clear();
            m_state = TapState::PickMessage;
        } else if (m_state == TapState::AwaitGoAhead && Has(kTapForcedDisconnect)) {
            Post("Login Rejected!");
            m_rx.clear();
            return Logout();
        } else if (m_state == TapState::AwaitReply && Has(std::string_view(&kAck, 1))) {
            m_deadline = now + kTapBlockTimeoutSeconds;
            m_rx.clear();
            m_state = TapState::PickMessage;
            if (!m_multiBlock) {
                Accepted();
            } else {
                m_offset += kTapBlockText;
                if (m_text.size() > m_offset) {
                    Post("Block Accepted!");
                    m_state = TapState::SendBlock;
                    m_retries = 0;
                } else {
                    Accepted();
                }
            }
        } else if (m_state == TapState::AwaitReply && Has(std::string_view(&kNak, 1))) {
            if (++m_retries < kTapBlockRetries) {
                Post("Bad checksum, resending!");
                m_rx.clear();
                SendCurrentBlock();
            } else {
                m_console.failedPages.fetch_add(1);
                Post("Checksum retries exausted! PIN=" + m_pin + " Company=" + m_company);
                m_deadline = now + kTapBlockTimeoutSeconds;
                m_rx.clear();
                m_state = TapState::PickMessage;
                unlink(m_path.c_str());
                m_retries = 0;
            }
        } else if (m_state == TapState::AwaitReply && Has(std::string_view(&kRs, 1))) {
            m_console.failedPages.fetch_add(1);
            m_deadline = now + kTapBlockTimeoutSeconds;
            m_rx.clear();
            m_state = TapState::PickMessage;
            Post("Page rejected! PIN=" + m_pin + " Company=" + m_company);
            unlink(m_path.c_str());
            m_retries = 0;
        }
        return std::nullopt;
    }

    void SendCurrentBlock() {
        TapBlock block = BuildTapBlock(m_pin, m_text, m_offset);
        m_multiBlock = block.kind != TapBlockKind::Single;
        switch (block.kind) {
        case TapBlockKind::Single: Post("Sending message..."); break;
        case TapBlockKind::First: Post("Sending first block..."); break;
        case TapBlockKind::Middle: Post("Sending block..."); break;
        case TapBlockKind::Last: Post("Sending last block..."); break;
        }
        Send(block.bytes);
        m_deadline = m_clock.Now() + kTapBlockTimeoutSeconds;
        m_state = TapState::AwaitReply;
    }

    // The session does not wait for the terminal's answer to EOT.
    int Logout() {
        Post("Logging out!");
        Send(std::string{kEot, kCr});
        SendModemString(m_console, m_port, "|");
        m_clock.SleepMs(kHangUpSettleMs);
        m_found.clear();
        return 0;
    }

    int GoAheadLost() {
        Post("Ack go-ahead not received!");
        m_rx.clear();
        return ConnectionLost();
    }

    int ConnectionLost() {
        Post("Connection lost with " + m_company);
        m_found.clear();
        return 0;
    }

    Console& m_console;
    SerialPort& m_port;
    Clock& m_clock;
    const std::string m_folder;
    const std::string m_company;

    TapState m_state = TapState::WakeTerminal;
    time_t m_deadline = 0;
    int m_crCount = 0;
    int m_retries = 0;
    std::string m_rx;
    std::string m_path;
    std::string m_pin;
    std::string m_text;
    size_t m_offset = 0;
    bool m_multiBlock = false;
    std::vector<std::string> m_found;
    size_t m_next = 0;
    bool m_noMoreFiles = false;
};

} // namespace

int RunTapSession(Console& console, SerialPort& port, const DialJob& job) {
    return TapSession(console, port, job).Run();
}

} // namespace brimlow
