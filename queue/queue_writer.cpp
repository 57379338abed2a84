#include "queue/queue_writer.h"

#include "directory/data_files.h"
#include "directory/file_io.h"
#include "queue/email_packet.h"
#include "queue/file_listing.h"
#include "queue/logs.h"
#include "queue/message_file.h"
#include "queue/unique_name.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace brimlow {
namespace {

// Writes the message file as <folder>/<prefix>XXXXXXXXX; false when it cannot be created.
bool WriteQueueFile(Console& console, const std::string& folder, const char* prefix, const SubscriberRecord& record,
                    const std::string& text) {
    std::string path = JoinPath(folder, std::string(prefix) + kNameTemplate);
    return WriteUniqueFile(console, path, MessageFileBytes(record, text));
}

std::string CompanyFolder(const Console& console, int company) {
    return JoinPath(console.dataDir, std::to_string(company));
}

} // namespace

std::string PageText(const Console& console, const ComposedPage& page) {
    std::string text = page.message.substr(0, kMessageFieldLimit);
    if (page.attachSignature)
        text += std::string(console.signature.Text, strnlen(console.signature.Text, sizeof console.signature.Text));
    return text;
}

std::string QueuedText(const Console& console, const ComposedPage& page) {
    return PageText(console, page).substr(0, kQueuedTextLimit);
}

std::string MessageLogLine(const std::string& name, const std::string& subject, const std::string& text) {
    return subject.empty() ? name + " Msg: " + text + "\n" : name + " Sub: " + subject + " Msg: " + text + "\n";
}

int ResolveListItem(const Console& console, int tab, int itemIndex) {
    if (itemIndex < 0)
        return -1;
    if (tab == kNetworkTab)
        return IsValidSubscriberSlot(itemIndex) ? itemIndex : -1;
    int k = 0;
    for (int slot = 0; slot < kSubscriberSlots; ++slot) {
        if (console.local->subscribers[slot].Tab == tab && k++ == itemIndex)
            return slot;
    }
    return -1;
}

bool QueueRecord(Console& console, const ComposedPage& page, const SubscriberRecord& record) {
    const std::string text = QueuedText(console, page);
    std::string folder;
    const char* prefix = nullptr;
    switch (page.mode) {
    case SendMode::Email: {
        std::string subject = page.subject.substr(0, kSubjectFieldLimit);
        WriteMessageLog(console, MessageLogLine(GetText(record.Name), subject, text));
        if (!WriteEmailPacket(console, record, subject, text))
            console.op->ShowError(kSendError);
        return true;
    }
    case SendMode::NetPage:
        folder = console.dataDir;
        prefix = kReadyPrefix;
        break;
    case SendMode::Page:
        if (!IsValidCompanyIndex(record.Company) || !MakeFolder(folder = CompanyFolder(console, record.Company))) {
            console.op->ShowError(kQueueFileError);
            return false;
        }
        prefix = kHeldPrefix;
        break;
    default:
        return true;
    }
    if (!WriteQueueFile(console, folder, prefix, record, text)) {
        console.op->ShowError(kQueueFileError);
        return false;
    }
    WriteMessageLog(console, MessageLogLine(GetText(record.Name), "", text));
    return true;
}

namespace {

// The records an entry pages, copied under "DatabaseLock": files are written, and errors shown, without it.
void CopyRecipients(const Directory& dir, int slot, std::vector<SubscriberRecord>& recipients) {
    ExpandEntry(dir, slot, [&](int target) {
        recipients.push_back(dir.subscribers[target]);
        return true;
    });
}

bool QueueRecords(Console& console, const ComposedPage& page, const std::vector<SubscriberRecord>& recipients) {
    for (const SubscriberRecord& record : recipients)
        if (!QueueRecord(console, page, record))
            return false;
    return true;
}

} // namespace

bool QueueForSubscriber(Console& console, const ComposedPage& page, int slot) {
    std::vector<SubscriberRecord> recipients;
    {
        std::lock_guard lock(console.databaseLock);
        CopyRecipients(console.DirectoryForTab(page.currentTab), slot, recipients);
    }
    return QueueRecords(console, page, recipients);
}

int Queue(Console& console, const ComposedPage& page, const std::vector<int>& selectedItems) {
    if (page.message.empty()) {
        console.op->ShowError(kNoMessageError);
        return 0;
    }
    if (selectedItems.empty()) {
        console.op->ShowError(kNoSelectionError);
        return 0;
    }
    for (int item : selectedItems) {
        std::vector<SubscriberRecord> recipients;
        {
            std::lock_guard lock(console.databaseLock);
            int slot = ResolveListItem(console, page.currentTab, item);
            if (slot >= 0)
                CopyRecipients(console.DirectoryForTab(page.currentTab), slot, recipients);
        }
        if (!QueueRecords(console, page, recipients))
            break;
    }
    return static_cast<int>(selectedItems.size());
}

int WriteDirectPage(Console& console, int slot, const std::string& text) {
    if (!IsValidSubscriberSlot(slot))
        return 0;
    const SubscriberRecord& record = console.local->subscribers[slot];
    if (!IsValidCompanyIndex(record.Company))
        return 0;
    std::string folder = CompanyFolder(console, record.Company);
    if (!MakeFolder(folder))
        return 0;
    return WriteQueueFile(console, folder, kReadyPrefix, record, text) ? 1 : 0;
}

int WriteSnppQueuePage(Console& console, const SubscriberRecord& record, const std::string& text) {
    return WriteQueueFile(console, console.dataDir, kReadyPrefix, record, text) ? 1 : 0;
}

std::string SafePathComponent(const std::string& name) {
    std::string safe = name.substr(0, strnlen(name.c_str(), name.size()));
    for (char& c : safe)
        if (c == '/')
            c = ' ';
    if (safe.empty() || safe == "." || safe == "..")
        return {};
    return safe;
}

int WriteServerIntake(Console& console, const std::string& userName, const CompanyRecord& company,
                      const SubscriberRecord& subscriber, const std::string& text) {
    std::string user = SafePathComponent(userName);
    if (user.empty() || !IsValidCompanyIndex(subscriber.Company))
        return 0;
    std::string queueFolder = JoinPath(console.dataDir, kQueueFolder);
    std::string userFolder = JoinPath(queueFolder, user);
    std::string companyFolder = JoinPath(userFolder, std::to_string(subscriber.Company));
    if (!MakeFolder(queueFolder) || !MakeFolder(userFolder) || !MakeFolder(companyFolder))
        return 0;

    int fd = open(JoinPath(companyFolder, kCompanyDatFile).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return 0;
    bool ok = WriteFully(fd, &company, sizeof company);
    ok = close(fd) == 0 && ok;
    if (!ok)
        return 0;

    std::string path = JoinPath(companyFolder, std::string(kReadyPrefix) + kNameTemplate);
    std::string bytes(reinterpret_cast<const char*>(&subscriber), sizeof subscriber);
    bytes += text.substr(0, strnlen(text.c_str(), text.size()));
    return WriteUniqueFile(console, path, bytes) ? 1 : 0;
}

} // namespace brimlow
