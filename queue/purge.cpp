#include "queue/purge.h"

#include "directory/data_files.h"
#include "queue/file_listing.h"
#include "queue/message_file.h"

#include <unistd.h>

namespace brimlow {
namespace {

int DeleteMatching(const std::string& folder, const std::string& pattern) {
    int deleted = 0;
    for (const std::string& name : ListNames(folder, pattern))
        deleted += unlink(JoinPath(folder, name).c_str()) == 0 ? 1 : 0;
    return deleted;
}

const std::string kRootPagePattern = std::string(kReadyPrefix) + "*.*";
constexpr const char* kCompanyPagePattern = "MS*.*";

} // namespace

int PurgeAll(Console& console) {
    int deleted = DeleteMatching(console.dataDir, kRootPagePattern);
    for (int n = 0; n < kCompanySlots; ++n)
        deleted += DeleteMatching(JoinPath(console.dataDir, std::to_string(n)), kCompanyPagePattern);
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
