#include "queue/unique_name.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brimlow {
namespace {

constexpr size_t kTemplateLength = 9;

bool EndsInTemplate(const std::string& path) {
    return path.size() >= kTemplateLength && path.compare(path.size() - kTemplateLength, kTemplateLength, kNameTemplate) == 0;
}

// "AAAAA.AAA" from the counter, written over the last nine characters.
void WriteCandidate(const std::array<char, 8>& counter, std::string& path) {
    char* name = path.data() + path.size() - kTemplateLength;
    memcpy(name, counter.data(), 5);
    name[5] = '.';
    memcpy(name + 6, counter.data() + 5, 3);
}

// Every candidate exists only after 26^8 tries; stop long before that.
constexpr long kMaxCandidates = 1'000'000;

} // namespace

void AdvanceNameCounter(std::array<char, 8>& counter) {
    for (int i = 7; i >= 0; --i) {
        if (counter[i] < 'Z') {
            ++counter[i];
            return;
        }
        counter[i] = 'A';
    }
}

bool MakeUniqueName(Console& console, std::string& path) {
    if (!EndsInTemplate(path))
        return false;
    std::lock_guard lock(console.uniqueNameLock);
    std::string candidate = path;
    for (long tries = 0; tries < kMaxCandidates; ++tries) {
        WriteCandidate(console.uniqueNameCounter, candidate);
        struct stat st{};
        if (lstat(candidate.c_str(), &st) != 0) {
            path = candidate;
            return true;
        }
        AdvanceNameCounter(console.uniqueNameCounter);
    }
    return false;
}

int CreateUniqueFile(Console& console, std::string& path) {
    if (!EndsInTemplate(path))
        return -1;
    std::lock_guard lock(console.uniqueNameLock);
    std::string candidate = path;
    for (long tries = 0; tries < kMaxCandidates; ++tries) {
        WriteCandidate(console.uniqueNameCounter, candidate);
        int fd = open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            path = candidate;
            return fd;
        }
        if (errno != EEXIST) {
            path = candidate;
            return -1;
        }
        AdvanceNameCounter(console.uniqueNameCounter);
    }
    return -1;
}

} // namespace brimlow
