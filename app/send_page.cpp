#include "app/send_page.h"

#include "network/net_client.h"
#include "queue/email_packet.h"
#include "queue/logs.h"
#include "queue/queue_writer.h"
#include "transports/email.h"
#include "transports/snpp.h"

namespace brimlow {
namespace {

class SendOperation {
public:
    SendOperation(Console& console, const ComposedPage& page)
        : m_console(console), m_page(page), m_message(page.message.substr(0, kMessageFieldLimit)),
          m_viaServer(ViaServer(console, page)) {}

    SendOutcome Run(const std::vector<int>& slots, const SendProgress& progress) {
        std::vector<Recipient> recipients = Recipients(slots);
        for (size_t k = 0; k < recipients.size(); ++k) {
            if (progress)
                progress(GetText(recipients[k].record.Name), static_cast<int>(k), static_cast<int>(recipients.size()));
            Deliver(recipients[k]);
        }
        return m_outcome;
    }

private:
    struct Recipient {
        int slot;
        SubscriberRecord record;
    };

    // Every recipient with a copy of its record, taken in one go under "DatabaseLock": the pages then go out
    // without it, and a LAN session that changes the table meanwhile cannot change whom this Send reaches.
    std::vector<Recipient> Recipients(const std::vector<int>& slots) {
        std::vector<Recipient> recipients;
        std::lock_guard lock(m_console.databaseLock);
        const Directory& dir = m_console.DirectoryForTab(m_page.currentTab);
        for (int slot : slots)
            ExpandEntry(dir, slot, [&](int target) {
                recipients.push_back({target, dir.subscribers[target]});
                return true;
            });
        return recipients;
    }

    // One recipient. A hand-off to the LAN server, where the settings ask for it, takes the place of the
    // mode's own transport here.
    void Deliver(const Recipient& recipient) {
        ++m_outcome.recipients;
        const int slot = recipient.slot;
        const SubscriberRecord& record = recipient.record;
        const std::string name = GetText(record.Name);
        switch (m_page.mode) {
        case SendMode::NetPage:
            WriteMessageLog(m_console, MessageLogLine(name, "", m_message));
            if (m_viaServer)
                HandToServer(slot, "", lan::kPageSnpp);
            else
                Report(SendSnppNow(m_console, m_page, name, GetText(record.PIN), record.Company));
            break;
        case SendMode::Email: {
            std::string subject = m_page.subject.substr(0, kSubjectFieldLimit);
            WriteMessageLog(m_console, MessageLogLine(name, subject, m_message));
            if (m_viaServer) {
                HandToServer(slot, subject, lan::kPageEmail);
                break;
            }
            bool written = WriteEmailPacket(m_console, record, subject, m_message) == 1;
            m_outcome.emailPackets += written ? 1 : 0;
            bool started = StartSmtpDaemonsForPackets(m_console, kSmtpHandoffPollMs);
            Report(written && started);
            break;
        }
        case SendMode::Page:
            if (m_viaServer) {
                HandToServer(slot, "", lan::kPageModem);
                break;
            }
            // The queue writer shows its own error.
            m_outcome.failures += QueueRecord(m_console, m_page, record) ? 0 : 1;
            m_outcome.queued = true;
            break;
        }
    }

    // Pages of the Network tab go by the server's own slot; pages of a local tab carry their records.
    static bool ViaServer(Console& console, const ComposedPage& page) {
        Settings settings = console.settings.Get();
        return page.currentTab == kNetworkTab ? settings.SendViaServer != 0 : settings.SendAllViaServer != 0;
    }

    void HandToServer(int slot, const std::string& subject, int32_t type) {
        NetClient* client = m_console.netClient.get();
        int handed = 0;
        if (client)
            handed = m_page.currentTab == kNetworkTab ? client->SendServerPage(slot, subject, m_message, type)
                                                      : client->SendClientPage(slot, subject, m_message, type);
        if (handed == 1) {
            m_console.op->AddResultLine(kSentToServerText);
            ++m_console.sentPages;
        }
        Report(handed == 1);
    }

    void Report(bool delivered) {
        if (!delivered) {
            m_console.op->ShowError(kSendError);
            ++m_outcome.failures;
        }
    }

    Console& m_console;
    const ComposedPage& m_page;
    const std::string m_message;
    const bool m_viaServer;
    SendOutcome m_outcome;
};

} // namespace

SendOutcome SendPage(Console& console, const ComposedPage& page, const std::vector<int>& slots,
                     const SendProgress& progress) {
    if (page.message.empty()) {
        console.op->ShowError(kNoMessageError);
        return {};
    }
    console.sending = 1;
    SendOutcome outcome = SendOperation(console, page).Run(slots, progress);
    if (outcome.recipients == 0)
        console.op->ShowError(kNoSelectionError);
    console.sending = 0;
    return outcome;
}

} // namespace brimlow
