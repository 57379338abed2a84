#include "app/commands.h"
#include "app/send_page.h"
#include "app/send_queue_worker.h"
#include "network/net_client_scan.h"
#include "queue/queue_writer.h"
#include "queue/status.h"

#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace brimlow {
namespace {

constexpr size_t kSuggestedNames = 3;

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

std::string UnknownRecipient(const Directory& dir, const std::string& name) {
    std::vector<std::string> names;
    for (int slot = 0; slot < UsedSubscriberSlots(dir); ++slot)
        names.push_back(GetText(dir.subscribers[slot].Name));
    std::string text = "no subscriber or group named \"" + name + "\" in the local directory";
    std::vector<std::string> closest = ClosestNames(name, names, kSuggestedNames);
    for (size_t k = 0; k < closest.size(); ++k)
        text += (k == 0 ? "; the closest names are \"" : ", \"") + closest[k] + "\"";
    return text;
}

// Prints status lines as the window's Result list would show them, while the command works; PostStatus waits
// for the mailbox to be emptied. It sleeps on the console's wake-up descriptor, so it ends as soon as it is told.
class StatusPrinter {
public:
    explicit StatusPrinter(Console& console) : m_console(console), m_thread([this] { Run(); }) {}
    ~StatusPrinter() {
        m_stop = true;
        m_console.wake.Notify();
        m_thread.join();
    }

private:
    void Run() {
        for (;;) {
            while (std::optional<std::string> line = TakeStatus(m_console))
                m_console.op->AddResultLine(*line);
            if (m_stop)
                return;
            m_console.wake.Wait(-1);
        }
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
        return context.UsageError("--mode must be netpage, page or email");
    page.subject = context.Value("--subject");
    page.attachSignature = context.Flag("--signature");
    const std::vector<std::string>& names = context.Values("--to");
    if (names.empty())
        return context.UsageError("give at least one --to NAME");
    std::vector<int> slots;
    for (const std::string& name : names) {
        std::vector<int> named = SlotsNamed(*console.local, name);
        if (named.empty())
            return context.UsageError(UnknownRecipient(*console.local, name));
        slots.insert(slots.end(), named.begin(), named.end());
    }
    Settings settings = console.settings.Get();
    if (page.mode == SendMode::Email && !settings.SendAllViaServer && settings.OutboundMailServer.empty())
        return context.UsageError("no mail server is set: set \"Outbound Mail Server\" in group Options of " +
                                  context.settingsFile);
    const std::vector<std::string>& message = context.Values("--message");
    if (!message.empty()) {
        page.message = message.back();
    } else {
        if (isatty(STDIN_FILENO))
            fprintf(stderr, "brimlow: send: reading the message from standard input; end it with Ctrl-D\n");
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
        if (settings.SendAllViaServer)
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
    return allDelivered ? kExitDone : kExitFailed;
}

} // namespace brimlow
