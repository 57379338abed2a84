#include "directory/data_files.h"

#include "directory/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brimlow {
namespace {

// Data files are opened read-write and created when missing, never truncated. A read-only data directory
// still loads what it holds.
int OpenDataFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd;
}

} // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool ReplaceFileAtomically(const std::string& dataDir, const std::string& name, const void* data, size_t size) {
    std::string finalPath = JoinPath(dataDir, name);
    std::string tempPath = JoinPath(dataDir, "." + name + ".XXXXXX");
    int fd = mkostemp(tempPath.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = WriteFully(fd, data, size) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok)
        fchmodat(AT_FDCWD, tempPath.c_str(), 0600, 0);
    if (!ok || rename(tempPath.c_str(), finalPath.c_str()) != 0) {
        unlink(tempPath.c_str());
        return false;
    }
    return true;
}

void RepairMemberNames(Directory& dir) {
    for (GroupRecord& group : dir.groups) {
        for (auto& name : group.Members) {
            for (int pos = 0; pos < kMemberNameSize - 1; ++pos) {
                if (static_cast<unsigned char>(name[pos]) != 0xCC)
                    continue;
                name[pos] = '\0';
                for (int back = pos - 1; back >= 0 && name[back] == ' '; --back)
                    name[back] = '\0';
            }
        }
    }
}

int LoadCompanyFile(const std::string& dataDir, Directory& dir) {
    memset(dir.companies.data(), 0, sizeof(dir.companies));
    for (CompanyRecord& c : dir.companies) {
        c.Socket = kDefaultSocket;
        c.MaxChars = kDefaultMaxChars;
    }
    mkdir(JoinPath(dataDir, kTrackingFolder).c_str(), 0700);
    int fd = OpenDataFile(JoinPath(dataDir, kCompanyFile));
    if (fd < 0)
        return 0;
    ReadFully(fd, dir.companies.data(), sizeof(dir.companies));
    close(fd);
    return 1;
}

int LoadDirectoryFiles(const std::string& dataDir, Directory& dir, ModemSettings& modem) {
    memset(dir.subscribers.data(), 0, sizeof(dir.subscribers));
    memset(dir.groups.data(), 0, sizeof(dir.groups));
    memset(&modem, 0, sizeof(modem));

    int fd = OpenDataFile(JoinPath(dataDir, kModemFile));
    if (fd >= 0) {
        if (ReadFully(fd, modem.InitString, sizeof(modem.InitString)) < 1)
            SetText(modem.InitString, kDefaultInitString);
        if (ReadFully(fd, modem.DialPrefix, sizeof(modem.DialPrefix)) < 1)
            SetText(modem.DialPrefix, kDefaultDialPrefix);
        close(fd);
    }

    fd = OpenDataFile(JoinPath(dataDir, kSubscriberFile));
    if (fd >= 0) {
        ReadFully(fd, dir.subscribers.data(), sizeof(dir.subscribers));
        close(fd);
        for (SubscriberRecord& s : dir.subscribers) {
            s.LockByte = 0;
            if (s.Tab > 2)
                s.Tab = 0;
        }
    }

    fd = OpenDataFile(JoinPath(dataDir, kGroupFile));
    if (fd < 0)
        return 0;
    struct stat st{};
    if (fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) == kEarlierGroupFileSize) {
        constexpr int kOldGroups = 50, kOldMembers = 20;
        std::string old(kEarlierGroupFileSize, '\0');
        ReadFully(fd, old.data(), old.size());
        for (int g = 0; g < kOldGroups; ++g)
            for (int m = 0; m < kOldMembers; ++m) {
                const char* name = old.data() + (g * kOldMembers + m) * kMemberNameSize;
                SetText(dir.groups[g].Members[m], std::string_view(name, strnlen(name, kMemberNameSize)));
            }
    } else {
        ReadFully(fd, dir.groups.data(), sizeof(dir.groups));
    }
    close(fd);
    RepairMemberNames(dir);
    return 1;
}

int LoadSignatureFile(const std::string& dataDir, Signature& signature) {
    memset(&signature, 0, sizeof(signature));
    int fd = OpenDataFile(JoinPath(dataDir, kSignatureFile));
    if (fd < 0)
        return 0;
    ReadFully(fd, signature.Text, 100);
    ReadFully(fd, &signature.Attach, sizeof(signature.Attach));
    close(fd);
    return 1;
}

int SaveDirectoryFiles(const std::string& dataDir, Directory& dir, const ModemSettings& modem) {
    for (SubscriberRecord& s : dir.subscribers)
        s.LockByte = 0;
    if (!ReplaceFileAtomically(dataDir, kSubscriberFile, dir.subscribers.data(), sizeof(dir.subscribers)))
        return 0;
    if (!ReplaceFileAtomically(dataDir, kGroupFile, dir.groups.data(), sizeof(dir.groups)))
        return 0;
    return ReplaceFileAtomically(dataDir, kModemFile, &modem, sizeof(modem)) ? 1 : 0;
}

int SaveCompanyFile(const std::string& dataDir, const Directory& dir) {
    return ReplaceFileAtomically(dataDir, kCompanyFile, dir.companies.data(), sizeof(dir.companies)) ? 1 : 0;
}

int SaveSignatureFile(const std::string& dataDir, const Signature& signature) {
    SignatureRecord record{};
    memcpy(record.Text, signature.Text, sizeof(record.Text));
    record.Attach = signature.Attach;
    return ReplaceFileAtomically(dataDir, kSignatureFile, &record, sizeof(record)) ? 1 : 0;
}

} // namespace brimlow
