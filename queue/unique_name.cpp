#include "queue/unique_name.h"

#include "directory/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without renameat2: a link and an unlink.
    if (link(from.c_str(), to.c_str()) != 0)
        return false;
    if (unlink(from.c_str()) != 0) {
        int error = errno;
        unlink(to.c_str()); // another claim of from stands
        errno = error;
        return false;
    }
    return true;
}

int CreateStagingFile(const std::string& path, std::string& staging) {
    if (!EndsInTemplate(path))
        return -1;
    staging = path.substr(0, path.rfind('/') + 1) + ".staging-XXXXXX";
    return mkostemp(staging.data(), O_CLOEXEC);
}

bool PublishUniqueFile(Console& console, const std::string& staging, std::string& path) {
    if (EndsInTemplate(path)) {
        std::lock_guard lock(console.uniqueNameLock);
        std::string candidate = path;
        for (long tries = 0; tries < kMaxCandidates; ++tries) {
            WriteCandidate(console.uniqueNameCounter, candidate);
            if (RenameNoReplace(staging, candidate)) {
                path = candidate;
                return true;
            }
            if (errno != EEXIST)
                break;
            AdvanceNameCounter(console.uniqueNameCounter);
        }
    }
    unlink(staging.c_str());
    return false;
}

namespace {

// The bytes into a staging file beside path, with lastWrite as its last-write time unless 0; false, with nothing
// left behind, when it cannot.
bool WriteStagingFile(const std::string& path, std::string_view bytes, time_t lastWrite, std::string& staging) {
    int fd = CreateStagingFile(path, staging);
    if (fd < 0)
        return false;
    bool ok = WriteFully(fd, bytes.data(), bytes.size());
    if (lastWrite != 0) {
        const timespec times[2] = {{lastWrite, 0}, {lastWrite, 0}};
        ok = ok && futimens(fd, times) == 0;
    }
    ok = close(fd) == 0 && ok;
    if (!ok)
        unlink(staging.c_str());
    return ok;
}

} // namespace

bool WriteUniqueFile(Console& console, std::string& path, std::string_view bytes) {
    std::string staging;
    return WriteStagingFile(path, bytes, 0, staging) && PublishUniqueFile(console, staging, path);
}

bool PutBackUniqueFile(Console& console, std::string& path, std::string_view bytes, time_t lastWrite) {
    std::string staging;
    if (!WriteStagingFile(path, bytes, lastWrite, staging))
        return false;
    {
        std::lock_guard lock(console.uniqueNameLock);
        AdvanceNameCounter(console.uniqueNameCounter);
    }
    return PublishUniqueFile(console, staging, path);
}

} // namespace brimlow
