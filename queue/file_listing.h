#pragma once
// Wildcard listings of a folder, matched without regard to case, in the order the directory listing returns, and
// the file operations that the queue and the tracking tickets share.
#include <ctime>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brimlow {

struct ListedFile {
    std::string name;
    time_t lastWrite = 0;
    off_t size = 0;
    bool isFolder = false;
    mode_t mode = 0;
};

// "*.*" matches every name. "." and ".." are never listed.
std::vector<ListedFile> ListFolder(const std::string& folder, const std::string& pattern);
std::vector<std::string> ListNames(const std::string& folder, const std::string& pattern);
bool MatchesPattern(const std::string& name, const std::string& pattern);

bool MakeFolder(const std::string& path); // true when it exists afterwards

// Truncates the file to zero length, then removes it; 1 when it existed.
int ShredFile(const std::string& path);

} // namespace brimlow
