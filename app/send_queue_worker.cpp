#include "app/send_queue_worker.h"

#include "app/send_page.h"
#include "directory/data_files.h"
#include "queue/file_listing.h"
#include "queue/message_file.h"
#include "queue/queue_writer.h"
#include "queue/status.h"
#include "queue/unique_name.h"
#include "transports/email.h"
#include "transports/snpp.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brimlow {
namespace {

constexpr int kFreshNameTries = 100;

// A page that failed for the moment goes back into the queue for a later run, for a day from its queueing.
void KeepOrGiveUp(Console& console, const MessageFile& page, time_t queuedAt) {
    const std::string recipient = GetText(page.record.Name);
    if (RetryPeriodOver(queuedAt, console.clock->Now())) {
        PostStatus(console, GivenUpText(recipient));
        return;
    }
    std::string path = JoinPath(console.dataDir, std::string(kReadyPrefix) + kNameTemplate);
    bool kept = PutBackUniqueFile(console, path, MessageFileBytes(page.record, page.text), queuedAt);
    PostStatus(console, kept ? KeptForRetryText(recipient) : kQueueFileError);
}

// Sends the root SNPP pages. A page is sent by the worker whose delete of its file succeeds.
void SendSnppPages(Console& console) {
    for (const std::string& name : ListNames(console.dataDir, std::string(kReadyPrefix) + "*.*")) {
        std::string path = JoinPath(console.dataDir, name);
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT)
                continue; // another worker took it
            return;
        }
        std::optional<MessageFile> file = ReadMessageFile(fd, kMessageTextSize);
        struct stat st{};
        bool dated = fstat(fd, &st) == 0;
        close(fd);
        // A file too short for its record holds no page to send; it stays for Purge.
        if (!file || !dated || unlink(path.c_str()) != 0)
            continue;
        if (DeliverSnppByIndex(console, GetText(file->record.Name), GetText(file->record.PIN), file->record.Company,
                               file->text, "") == Delivery::RetryLater)
            KeepOrGiveUp(console, *file, st.st_mtime);
    }
}

void ReleaseHeldPages(Console& console) {
    for (int n = 0; n < kCompanySlots; ++n) {
        std::string folder = JoinPath(console.dataDir, std::to_string(n));
        for (const std::string& name : ListNames(folder, std::string(kHeldPrefix) + "*.*"))
            ReleaseHeldPage(console, folder, name);
    }
}

} // namespace

bool ReleaseHeldPage(Console& console, const std::string& folder, const std::string& heldName) {
    const std::string from = JoinPath(folder, heldName);
    if (RenameNoReplace(from, JoinPath(folder, kReadyPrefix + heldName.substr(3))))
        return true;
    if (errno != EEXIST)
        return false;
    // A page of that ready name already waits (a direct page took the same letters): keep both.
    for (int tries = 0; tries < kFreshNameTries; ++tries) {
        std::string to = JoinPath(folder, std::string(kReadyPrefix) + kNameTemplate);
        if (!MakeUniqueName(console, to))
            return false;
        if (RenameNoReplace(from, to))
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

void RunSendQueueWorker(Console& console) {
    SendSnppPages(console);
    StartSmtpDaemonsForPackets(console, kSmtpHandoffPollMs);
    ReleaseHeldPages(console);
}

bool StartSendQueueWorker(Console& console) {
    return console.StartWorker([&console] { RunSendQueueWorker(console); });
}

} // namespace brimlow
