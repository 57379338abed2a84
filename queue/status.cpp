#include "queue/status.h"

#include "queue/logs.h"

namespace brimlow {

namespace {

std::string StatusLine(const std::string& text) {
    std::string line = text.substr(0, kStatusCopyLimit);
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    return line;
}

} // namespace

void PostStatus(Console& console, const std::string& text) {
    std::string line = StatusLine(text);
    StatusMailbox& box = console.mailbox;
    std::unique_lock lock(box.mutex);
    // Once the console exits nobody takes lines any more: the poster must not wait for ever. The period covers a
    // flag set without BeginExit.
    while (!box.line.empty() && !console.exiting.load())
        box.emptied.wait_for(lock, std::chrono::milliseconds(kExitCheckMs));
    // Logged under the mailbox lock, so the log keeps the order in which the lines reach the screen.
    WriteStatusLog(console, line);
    if (!box.line.empty())
        return; // exiting: the log has it
    box.line = line.substr(0, kMailboxLimit);
    if (box.line.empty())
        box.line = " "; // an empty line would read as a free mailbox
    box.emptied.notify_all();
    console.wake.Notify();
}

void PostStatusOnUiThread(Console& console, const std::string& text) {
    std::string line = StatusLine(text);
    {
        std::lock_guard lock(console.mailbox.mutex);
        WriteStatusLog(console, line);
    }
    if (console.op)
        console.op->AddResultLine(line.substr(0, kMailboxLimit));
}

std::optional<std::string> TakeStatus(Console& console) {
    StatusMailbox& box = console.mailbox;
    std::lock_guard lock(box.mutex);
    if (box.line.empty())
        return std::nullopt;
    std::string line;
    line.swap(box.line);
    box.emptied.notify_all();
    return line;
}

bool StatusWaiting(Console& console) {
    std::lock_guard lock(console.mailbox.mutex);
    return !console.mailbox.line.empty();
}

std::optional<std::string> WaitStatus(Console& console, int timeoutMs) {
    StatusMailbox& box = console.mailbox;
    std::unique_lock lock(box.mutex);
    if (!box.emptied.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !box.line.empty(); }))
        return std::nullopt;
    std::string line;
    line.swap(box.line);
    box.emptied.notify_all();
    return line;
}

} // namespace brimlow
