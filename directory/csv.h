#pragma once
// Comma-separated copies of the local directory: companies, subscribers (with group entries) and group member
// lists. Every field is quoted, there is no escaping, and lines end in CR LF on disk.
#include "directory/directory.h"

#include <string>

namespace brimlow {

constexpr const char* kDatabaseExportCaption = "Database Export";
constexpr const char* kExportOverwriteQuestion = "WARNING: Output file(s) already exist!  Overwite files?";
constexpr const char* kExportOpenError = "ERROR: Unable to open / create output file!";
constexpr const char* kImportOpenError = "ERROR: Unable to open / read input file!";
constexpr const char* kDefaultCompanyCsv = "Company.brw";
constexpr const char* kDefaultSubscriberCsv = "Subscribers.brw";
constexpr const char* kDefaultGroupCsv = "Groups.brw";

struct CsvPaths {
    std::string company;
    std::string subscriber;
    std::string group;
};

struct CsvCounts {
    int companies = 0;
    int subscribers = 0;
    int groups = 0;
};

struct CsvResult {
    CsvCounts counts;
    std::string error; // the message to show; empty when every file was handled
};

// True when any of the three export targets exists (the caller asks before overwriting).
bool ExportTargetsExist(const CsvPaths& paths);

CsvResult ExportDirectory(const Directory& dir, const CsvPaths& paths);

// Replaces the subscriber and group tables and overwrites company slots from the files, in that order; a file
// that cannot be opened or read ends the import there, replaces nothing of its own table and leaves the tables
// handled before it imported. Lines without a Name take no subscriber slot, so the table stays compact.
CsvResult ImportDirectory(Directory& dir, const CsvPaths& paths);

// The blank-cleaning step of import and of the network's Read Customer text: drops leading blanks, blanks that
// follow a blank, a quote, or a comma that follows a quote, and one trailing blank.
std::string NormalizeBlanks(std::string_view line);

// Splits one normalized line into its quoted fields.
std::vector<std::string> SplitQuotedFields(std::string_view line);

} // namespace brimlow
