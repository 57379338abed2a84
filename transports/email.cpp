#include "transports/email.h"

#include "directory/data_files.h"
#include "queue/email_packet.h"
#include "queue/file_listing.h"
#include "queue/queue_writer.h"
#include "queue/status.h"
#include "transports/smtp.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brimlow {
namespace {

constexpr int kPacketLineSize = 160; // 159 characters and the terminator

// Takes the packet for this daemon: false when another daemon holds it or has already shredded it.
bool ClaimPacket(FILE* packet) {
    if (flock(fileno(packet), LOCK_EX | LOCK_NB) != 0)
        return false;
    struct stat st{};
    return fstat(fileno(packet), &st) == 0 && st.st_nlink > 0;
}

bool ReadPacketLine(FILE* packet, std::string& line) {
    char buffer[kPacketLineSize];
    if (!fgets(buffer, sizeof buffer, packet))
        return false;
    line = buffer;
    return true;
}

// Shreds the packet while this daemon's claim still holds, so that no other daemon can take it up again.
void DropPacket(FILE* packet, const std::string& path) {
    ShredFile(path);
    fclose(packet);
}

void RunSmtpDaemon(Console& console, const std::string& path) {
    FILE* packet = fopen(path.c_str(), "r");
    if (packet && !ClaimPacket(packet)) {
        fclose(packet);
        return;
    }
    auto post = [&console](const std::string& line) { PostStatus(console, line); };
    post("SMTP Daemon started...");
    post("Processing message " + path + "...");
    if (!packet) {
        post("Unable to open message packet!");
        ShredFile(path);
        return;
    }
    std::string sender, recipient;
    bool read = ReadPacketLine(packet, sender);
    while (read && !sender.empty() && (sender.back() == '\r' || sender.back() == '\n'))
        sender.pop_back();
    read = read && ReadPacketLine(packet, recipient);
    if (!read) {
        post("Error reading packet file!");
        DropPacket(packet, path);
        return;
    }
    // The recipient is posted after each line end removed, so the Result list shows it.
    while (!recipient.empty() && (recipient.back() == '\r' || recipient.back() == '\n')) {
        recipient.pop_back();
        post(recipient);
    }
    Delivery result = SmtpSend(console, packet, recipient, sender);
    if (result != Delivery::Sent)
        post(kSendError);
    // A packet that failed for the moment stays for a later send-queue worker run, for a day from its writing.
    struct stat st{};
    if (result == Delivery::RetryLater && fstat(fileno(packet), &st) == 0) {
        if (!RetryPeriodOver(st.st_mtime, console.clock->Now())) {
            post(KeptForRetryText(recipient));
            fclose(packet);
            return;
        }
        post(GivenUpText(recipient));
    }
    DropPacket(packet, path);
}

} // namespace

bool StartSmtpDaemon(Console& console, PathHandoff& handoff) {
    bool started = console.StartWorker([&console, &handoff] {
        std::string path = handoff.Take();
        RunSmtpDaemon(console, path);
    });
    if (!started)
        handoff.Take();
    return started;
}

void DeliverEmailPackets(Console& console) {
    for (const std::string& name : ListNames(console.dataDir, kEmailPacketPattern))
        RunSmtpDaemon(console, JoinPath(console.dataDir, name));
}

bool StartSmtpDaemonsForPackets(Console& console, int pollMs) {
    PathHandoff handoff;
    for (const std::string& name : ListNames(console.dataDir, kEmailPacketPattern)) {
        handoff.Put(JoinPath(console.dataDir, name));
        if (!StartSmtpDaemon(console, handoff))
            return false;
        handoff.WaitTaken(pollMs);
    }
    return true;
}

} // namespace brimlow
