#include "queue/purge.h"

#include "directory/data_files.h"
#include "queue/file_listing.h"
#include "queue/message_file.h"

#include <cerrno>
#include <unistd.h>

namespace brimlow {
namespace {

int DeleteMatching(const std::string& folder, const std::string& pattern, int* failed = nullptr) {
    int deleted = 0;
    for (const std::string& name : ListNames(folder, pattern)) {
        if (unlink(JoinPath(folder, name).c_str()) == 0)
            ++deleted;
        else if (failed && errno != ENOENT)
            ++*failed;
    }
    return deleted;
}

const std::string kRootPagePattern = std::string(kReadyPrefix) + "*.*";
constexpr const char* kCompanyPagePattern = "MS*.*";

} // namespace

int PurgeAll(Console& console, int* failed) {
    int deleted = DeleteMatching(console.dataDir, kRootPagePattern, failed);
    for (int n = 0; n < kCompanySlots; ++n)
        deleted += DeleteMatching(JoinPath(console.dataDir, std::to_string(n)), kCompanyPagePattern, failed);
    return deleted;
}

int PurgeCompany(Console& console, int company) {
    if (!IsValidCompanyIndex(company))
        return 0;
    int16_t flag;
    {
        std::lock_guard lock(console.databaseLock);
        flag = console.local->companies[company].QueueFolderFlag;
    }
    if (flag != 0)
        return DeleteMatching(JoinPath(console.dataDir, std::to_string(company)), kCompanyPagePattern);
    return DeleteMatching(console.dataDir, kRootPagePattern);
}

} // namespace brimlow
