#pragma once
// Counts the disk queue as every queue scan does, and picks what the next dial run serves.
#include <string>

namespace brimlow {

struct QueueCounts {
    int queueCount = 0;
    int pendingModem = 0;
    int chosenCompany = -1;        // highest company folder holding ready pages
    std::string chosenEntry;       // network queue entry (client user name) with ready pages
    int chosenEntryCompany = -1;
};

QueueCounts CountQueue(const std::string& dataDir);

constexpr size_t kQueueEntryNameLimit = 31;

// A network queue entry is a client's user name used as a folder name; one that could not have been made by
// the server intake (empty, ".", "..", a "/", longer than 31 characters) is neither counted nor dialled.
bool IsSafeQueueEntryName(const std::string& name);

} // namespace brimlow
