#include "tracking/unread_mark.h"

#include <sys/stat.h>

namespace brimlow {
namespace {

bool ChangeMark(const std::string& path, bool set) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0)
        return false;
    mode_t mode = set ? (st.st_mode | S_IXUSR) : (st.st_mode & ~S_IXUSR);
    return chmod(path.c_str(), mode & 07777) == 0;
}

} // namespace

bool SetUnreadMark(const std::string& path) { return ChangeMark(path, true); }
bool ClearUnreadMark(const std::string& path) { return ChangeMark(path, false); }
bool HasUnreadMark(mode_t mode) { return (mode & S_IXUSR) != 0; }

bool HasUnreadMark(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && HasUnreadMark(st.st_mode);
}

} // namespace brimlow
