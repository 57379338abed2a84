#pragma once
// The five data files of the local directory. Each is the whole table with no header; loading tolerates short
// and missing files, saving replaces the file atomically so that a crash mid-save never leaves a torn table.
#include "directory/directory.h"

#include <string>
#include <vector>

namespace brimlow {

constexpr const char* kCompanyFile = "COMPANY.DAT";
constexpr const char* kSubscriberFile = "SUBSCRIBER.DAT";
constexpr const char* kGroupFile = "GROUP.DAT";
constexpr const char* kModemFile = "MODEM.DAT";
constexpr const char* kSignatureFile = "Signature.DAT";
constexpr const char* kTrackingFolder = "Tracking";
constexpr const char* kDataFiles[] = {kSubscriberFile, kGroupFile, kModemFile, kCompanyFile, kSignatureFile};

constexpr const char* kDefaultInitString = "ATE0M0";
constexpr const char* kDefaultDialPrefix = "ATDT";
constexpr int16_t kDefaultSocket = 444;
constexpr int16_t kDefaultMaxChars = 300;
constexpr size_t kEarlierGroupFileSize = 81000; // 50 groups of 20 member names

// Each returns 1 when done, 0 when a file could not be opened (the tables are then as the earlier steps left
// them).
int LoadDirectoryFiles(const std::string& dataDir, Directory& dir, ModemSettings& modem);
int LoadCompanyFile(const std::string& dataDir, Directory& dir);
int LoadSignatureFile(const std::string& dataDir, Signature& signature);
int SaveDirectoryFiles(const std::string& dataDir, Directory& dir, const ModemSettings& modem);
int SaveCompanyFile(const std::string& dataDir, const Directory& dir);
int SaveSignatureFile(const std::string& dataDir, const Signature& signature);
// The five data files as one set, replaced together; the names of the files not saved, empty when all were.
std::vector<std::string> SaveDataFiles(const std::string& dataDir, Directory& dir, const ModemSettings& modem,
                                       const Signature& signature);

// Cuts every member name at a 0xCC byte, with the blanks before it; earlier versions left such bytes behind.
void RepairMemberNames(Directory& dir);

struct FileImage {
    const char* name;
    const void* data;
    size_t size;
};
// Writes every image to a temporary file ".NAME.XXXXXX" in dataDir and flushes it; only when all are written are
// they renamed over their files, one right after the other, so that a kill leaves the files of one generation
// whenever it can. Returns the names of the files not replaced: all of them when a temporary could not be
// written (nothing is replaced then), else those whose rename failed.
std::vector<std::string> ReplaceFilesTogether(const std::string& dataDir, const std::vector<FileImage>& images);
// One file through a temporary file and a rename. Returns false when nothing was replaced.
bool ReplaceFileAtomically(const std::string& dataDir, const std::string& name, const void* data, size_t size);

// Removes the temporaries of the data files that a killed save left behind. Only for the console that holds the
// data directory: no save of another process can be under way then.
void RemoveStaleTemporaries(const std::string& dataDir);
constexpr size_t kTemporarySuffixSize = 6; // the XXXXXX of mkostemp

std::string JoinPath(const std::string& folder, const std::string& name);

} // namespace brimlow
