#include "queue/file_listing.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace brimlow {

bool MatchesPattern(const std::string& name, const std::string& pattern) {
    if (pattern == "*.*" || pattern == "*")
        return true;
    return fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD | FNM_PERIOD) == 0;
}

std::vector<ListedFile> ListFolder(const std::string& folder, const std::string& pattern) {
    std::vector<ListedFile> out;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir)
        return out;
    while (dirent* entry = readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name == "." || name == ".." || !MatchesPattern(name, pattern))
            continue;
        ListedFile file;
        file.name = name;
        struct stat st{};
        if (fstatat(dirfd(dir.get()), entry->d_name, &st, 0) == 0) {
            file.lastWrite = st.st_mtime;
            file.size = st.st_size;
            file.isFolder = S_ISDIR(st.st_mode);
            file.mode = st.st_mode;
        }
        out.push_back(std::move(file));
    }
    return out;
}

// Names only: no stat per entry, which is most of a listing's cost in a large queue folder.
std::vector<std::string> ListNames(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir)
        return names;
    while (dirent* entry = readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && MatchesPattern(name, pattern))
            names.push_back(std::move(name));
    }
    return names;
}

bool MakeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) {
        struct stat st{};
        return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    return false;
}

int ShredFile(const std::string& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0)
        return 0;
    int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd >= 0)
        close(fd);
    return unlink(path.c_str()) == 0 ? 1 : 0;
}

} // namespace brimlow
