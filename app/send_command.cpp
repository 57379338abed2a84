#include "app/commands.h"
#include "app/send_page.h"
#include "app/send_queue_worker.h"
#include "network/net_client_scan.h"
#include "queue/queue_writer.h"
#include "queue/status.h"

#include <atomic>
#include <cstdio>
#include <thread>

namespace brimlow {
namespace {

constexpr int kDrainWaitMs = 50;

bool ParseMode(const std::string& text, SendMode& mode) {
    if (text == "netpage")
        mode = SendMode::NetPage;
    else if (text == "page")
        mode = SendMode::Page;
    else if (text == "email")
        mode = SendMode::Email;
    else
        return false;
    return true;
}

// Every local entry of that name (a group entry expands when it is sent).
std::vector<int> SlotsNamed(const Directory& dir, const std::string& name) {
    std::vector<int> slots;
    for (int slot = 0; slot < UsedSubscriberSlots(dir); ++slot)
        if (GetText(dir.subscribers[slot].Name) == name)
            slots.push_back(slot);
    return slots;
}

// Prints status lines as the window's Result list would show them, while the command works; PostStatus waits
// for the mailbox to be emptied.
class StatusPrinter {
public:
    explicit StatusPrinter(Console& console) : m_console(console), m_thread([this] { Run(); }) {}
    ~StatusPrinter() {
        m_stop = true;
        m_thread.join();
    }

private:
    void Run() {
        while (!m_stop || m_console.workers.Running() > 0)
            if (std::optional<std::string> line = WaitStatus(m_console, kDrainWaitMs))
                m_console.op->AddResultLine(*line);
        while (std::optional<std::string> line = TakeStatus(m_console))
            m_console.op->AddResultLine(*line);
    }

    Console& m_console;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

int CommandSend(CommandContext& context) {
    Console& console = context.console;
    ComposedPage page;
    if (!ParseMode(context.Value("--mode"), page.mode))
        return Fail("send needs --mode netpage, page or email");
    page.subject = context.Value("--subject");
    page.attachSignature = context.Flag("--signature");
    std::vector<std::string> names = context.Values("--to");
    if (names.empty())
        return Fail("send needs at least one --to NAME");
    std::vector<int> slots;
    for (const std::string& name : names) {
        std::vector<int> named = SlotsNamed(*console.local, name);
        if (named.empty())
            return Fail("no subscriber or group named \"" + name + "\" in the local directory");
        slots.insert(slots.end(), named.begin(), named.end());
    }
    std::vector<std::string> message = context.Values("--message");
    if (!message.empty()) {
        page.message = message.back();
    } else {
        // No more than a page holds, its closing line end and one byte that tells a longer text.
        page.message.resize(kMessageFieldLimit + 2);
        page.message.resize(fread(page.message.data(), 1, page.message.size(), stdin));
        if (!page.message.empty() && page.message.back() == '\n')
            page.message.pop_back(); // the line end that closes piped text is no part of the page
    }
    if (page.message.size() > kMessageFieldLimit) {
        page.message.resize(kMessageFieldLimit);
        fprintf(stderr, "brimlow: the message was cut to the %zu characters a page holds\n", kMessageFieldLimit);
    }

    SendOutcome outcome;
    int sentBefore = console.sentPages.load();
    {
        StatusPrinter printer(console);
        // Local entries go via the server when the settings say so; the client connects for this one send.
        if (console.settings.Get().SendAllViaServer)
            ConnectNetworkClientNow(console);
        outcome = SendPage(console, page, slots);
        // As the Send button does after queueing modem pages: the worker releases them for dialling.
        if (outcome.queued)
            RunSendQueueWorker(console);
        console.workers.WaitIdle(INT32_MAX); // the SMTP daemons
    }
    // The daemons report only through status lines and the counters.
    int delivered = console.sentPages.load() - sentBefore;
    bool allDelivered = outcome.recipients > 0 && outcome.failures == 0 &&
                        (page.mode != SendMode::Email || delivered >= outcome.emailPackets);
    return allDelivered ? 0 : 1;
}

} // namespace brimlow
