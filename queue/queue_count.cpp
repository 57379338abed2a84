#include "queue/queue_count.h"

#include "directory/data_files.h"
#include "directory/records.h"
#include "queue/file_listing.h"
#include "queue/queue_writer.h"

namespace brimlow {

bool IsSafeQueueEntryName(const std::string& name) {
    return !name.empty() && name.size() <= kQueueEntryNameLimit && name != "." && name != ".." &&
           name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

QueueCounts CountQueue(const std::string& dataDir) {
    QueueCounts counts;
    counts.queueCount += static_cast<int>(ListNames(dataDir, "MSG*.*").size());
    for (int n = 0; n < kCompanySlots; ++n) {
        // A folder of held pages only is not chosen: its dial run would find nothing to send, and would be
        // started again by every scan while the ready pages of a lower folder waited.
        bool ready = false;
        for (const std::string& name : ListNames(JoinPath(dataDir, std::to_string(n)), "MS*.*")) {
            ++counts.queueCount;
            if (name.compare(0, 3, "MSG") == 0) {
                ++counts.pendingModem;
                ready = true;
            }
        }
        if (ready)
            counts.chosenCompany = n;
    }
    std::string queueFolder = JoinPath(dataDir, kQueueFolder);
    for (const ListedFile& entry : ListFolder(queueFolder, "*")) {
        if (!entry.isFolder || !IsSafeQueueEntryName(entry.name))
            continue;
        std::string entryFolder = JoinPath(queueFolder, entry.name);
        for (int k = 0; k < kCompanySlots; ++k) {
            size_t ready = ListNames(JoinPath(entryFolder, std::to_string(k)), "MSG*.*").size();
            if (ready == 0)
                continue;
            counts.queueCount += static_cast<int>(ready);
            counts.pendingModem += static_cast<int>(ready);
            counts.chosenEntry = entry.name;
            counts.chosenEntryCompany = k;
        }
    }
    counts.queueCount += static_cast<int>(ListNames(dataDir, "EMG*.*").size());
    return counts;
}

} // namespace brimlow
