#include "directory/data_files.h"

#include "directory/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
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

std::vector<std::string> ReplaceFilesTogether(const std::string& dataDir, const std::vector<FileImage>& images) {
    std::vector<std::string> temps;
    bool written = true;
    for (const FileImage& image : images) {
        std::string temp = JoinPath(dataDir, "." + std::string(image.name) + ".XXXXXX");
        int fd = written ? mkostemp(temp.data(), O_CLOEXEC) : -1;
        if (fd < 0) {
            written = false;
            break;
        }
        temps.push_back(temp);
        written = WriteFully(fd, image.data, image.size) && fsync(fd) == 0;
        written = close(fd) == 0 && written;
    }
    std::vector<std::string> unsaved;
    for (size_t k = 0; k < images.size(); ++k) {
        if (!written || rename(temps[k].c_str(), JoinPath(dataDir, images[k].name).c_str()) != 0)
            unsaved.push_back(images[k].name);
    }
    for (size_t k = 0; k < temps.size(); ++k)
        if (!written || std::find(unsaved.begin(), unsaved.end(), images[k].name) != unsaved.end())
            unlink(temps[k].c_str());
    // The renames themselves reach the disk only with the folder.
    int folder = open(dataDir.empty() ? "." : dataDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return unsaved;
}

bool ReplaceFileAtomically(const std::string& dataDir, const std::string& name, const void* data, size_t size) {
    return ReplaceFilesTogether(dataDir, {{name.c_str(), data, size}}).empty();
}

void RemoveStaleTemporaries(const std::string& dataDir) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dataDir.empty() ? "." : dataDir, error)) {
        std::string name = entry.path().filename().string();
        for (const char* file : kDataFiles) {
            std::string prefix = "." + std::string(file) + ".";
            if (name.size() == prefix.size() + kTemporarySuffixSize && name.compare(0, prefix.size(), prefix) == 0 &&
                entry.is_regular_file(error))
                unlink(entry.path().c_str());
        }
    }
}

void RepairMemberNames(Directory& dir) {
    for (GroupRecord& group : dir.groups) {
        for (auto& name : group.Members) {
            char* end = name + kMemberNameSize - 1;
            for (char* mark = name; (mark = static_cast<char*>(memchr(mark, 0xCC, end - mark))) != nullptr;) {
                *mark = '\0';
                for (char* back = mark - 1; back >= name && *back == ' '; --back)
                    *back = '\0';
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

namespace {

std::vector<FileImage> DirectoryImages(Directory& dir, const ModemSettings& modem) {
    for (SubscriberRecord& s : dir.subscribers)
        s.LockByte = 0;
    return {{kSubscriberFile, dir.subscribers.data(), sizeof(dir.subscribers)},
            {kGroupFile, dir.groups.data(), sizeof(dir.groups)},
            {kModemFile, &modem, sizeof(modem)}};
}

FileImage CompanyImage(const Directory& dir) {
    return {kCompanyFile, dir.companies.data(), sizeof(dir.companies)};
}

SignatureRecord SignatureFileRecord(const Signature& signature) {
    SignatureRecord record{};
    memcpy(record.Text, signature.Text, sizeof(record.Text));
    record.Attach = signature.Attach;
    return record;
}

} // namespace

int SaveDirectoryFiles(const std::string& dataDir, Directory& dir, const ModemSettings& modem) {
    return ReplaceFilesTogether(dataDir, DirectoryImages(dir, modem)).empty() ? 1 : 0;
}

int SaveCompanyFile(const std::string& dataDir, const Directory& dir) {
    return ReplaceFilesTogether(dataDir, {CompanyImage(dir)}).empty() ? 1 : 0;
}

int SaveSignatureFile(const std::string& dataDir, const Signature& signature) {
    SignatureRecord record = SignatureFileRecord(signature);
    return ReplaceFileAtomically(dataDir, kSignatureFile, &record, sizeof(record)) ? 1 : 0;
}

std::vector<std::string> SaveDataFiles(const std::string& dataDir, Directory& dir, const ModemSettings& modem,
                                       const Signature& signature) {
    SignatureRecord record = SignatureFileRecord(signature);
    std::vector<FileImage> images = DirectoryImages(dir, modem);
    images.push_back(CompanyImage(dir));
    images.push_back({kSignatureFile, &record, sizeof(record)});
    return ReplaceFilesTogether(dataDir, images);
}

} // namespace brimlow
