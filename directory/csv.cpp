#include "directory/csv.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <utility>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace brimlow {
namespace {

// Import reads every line that export can write. A subscriber with every field full: 533 characters of text,
// 14 pairs of quotes, 13 commas and the CR of the line end; a company line is shorter.
constexpr size_t kShortLineLimit = 600;
// The longest group line that export can write: "-199", then 200 members that fill their whole field, each as
// ,"name", and the CR of the line end, which the read takes off last.
constexpr size_t kGroupLineLimit = 6 + kGroupMembers * (3 + kMemberNameSize) + 1;
constexpr char kFieldSeparator = 0x03;

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File OpenFile(const std::string& path, const char* mode) { return File(fopen(path.c_str(), mode), fclose); }

bool Exists(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0;
}

// Reads one line of at most limit characters. A longer line is cut and its rest skipped, so it never becomes
// the next record. The line end (LF or CR LF) is removed. Returns false at the end of the file.
bool ReadLine(FILE* f, size_t limit, std::string& line) {
    line.clear();
    int c;
    bool any = false;
    while ((c = fgetc(f)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (line.size() < limit)
            line.push_back(static_cast<char>(c));
    }
    if (!any)
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

// Calls take with each line of the file, the header too, until take returns false or the file ends. False when
// the file cannot be opened or a read fails (a folder, an I/O error): a read error is no end of the file.
bool ReadLines(const std::string& path, size_t limit, const std::function<bool(const std::string&)>& take) {
    File f = OpenFile(path, "r");
    if (!f)
        return false;
    std::string line;
    while (ReadLine(f.get(), limit, line))
        if (!take(line))
            return true;
    return !ferror(f.get());
}

std::vector<std::string> ParseLine(const std::string& raw) { return SplitQuotedFields(NormalizeBlanks(raw)); }

int Atoi(const std::string& text) { return atoi(text.c_str()); }

void WriteCrLf(FILE* f, const std::string& text) {
    fputs(text.c_str(), f);
    fputs("\r\n", f);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

} // namespace

std::string NormalizeBlanks(std::string_view line) {
    size_t start = 0;
    while (start < line.size() && line[start] == ' ')
        ++start;
    std::string out;
    out.reserve(line.size());
    for (size_t i = start; i < line.size(); ++i) {
        char c = line[i];
        if (c == ' ' && !out.empty()) {
            char last = out.back();
            bool commaAfterQuote = last == ',' && out.size() >= 2 && out[out.size() - 2] == '"';
            if (last == ' ' || last == '"' || commaAfterQuote)
                continue;
        }
        out.push_back(c);
    }
    if (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::vector<std::string> SplitQuotedFields(std::string_view normalized) {
    std::string text(normalized);
    for (size_t i = 1; i < text.size(); ++i)
        if (text[i] == ',' && text[i - 1] == '"')
            text[i] = kFieldSeparator;
    std::vector<std::string> fields;
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && text[pos] == kFieldSeparator)
            ++pos;
        if (pos >= text.size())
            break;
        size_t end = text.find(kFieldSeparator, pos);
        if (end == std::string::npos)
            end = text.size();
        std::string piece = text.substr(pos, end - pos);
        // Drop the opening and the closing quote.
        fields.push_back(piece.size() >= 2 ? piece.substr(1, piece.size() - 2) : std::string());
        pos = end;
    }
    return fields;
}

bool ExportTargetsExist(const CsvPaths& paths) {
    return Exists(paths.group) || Exists(paths.company) || Exists(paths.subscriber);
}

CsvResult ExportDirectory(const Directory& dir, const CsvPaths& paths) {
    CsvResult result;
    File f = OpenFile(paths.subscriber, "w+");
    if (!f) {
        result.error = kExportOpenError;
        return result;
    }
    WriteCrLf(f.get(), "\"Name\",\"PIN\",\"Company\",\"Tab\",\"CompanyName\",\"Address\",\"City\",\"State\",\"ZIP\","
                       "\"WorkPhone\",\"HomePhone\",\"FAX\",\"Cell\",\"Email\"");
    for (const SubscriberRecord& s : dir.subscribers) {
        if (IsEmptyText(s.Name))
            break;
        std::string line = Quoted(GetText(s.Name)) + "," + Quoted(GetText(s.PIN)) + "," +
                           Quoted(std::to_string(s.Company)) + "," + Quoted(std::to_string(s.Tab));
        for (const std::string& text : {GetText(s.CompanyName), GetText(s.Address), GetText(s.City),
                                        GetText(s.State), GetText(s.ZIP), GetText(s.WorkPhone),
                                        GetText(s.HomePhone), GetText(s.FAX), GetText(s.Cell), GetText(s.Email)})
            line += "," + Quoted(text);
        WriteCrLf(f.get(), line);
        ++result.counts.subscribers;
    }
    f.reset();

    f = OpenFile(paths.group, "w+");
    if (!f) {
        result.error = kExportOpenError;
        return result;
    }
    for (int g = 0; g < kGroupSlots; ++g) {
        std::string line = Quoted("-" + std::to_string(g));
        for (const auto& member : dir.groups[g].Members) {
            if (IsEmptyText(member))
                break;
            line += "," + Quoted(GetText(member));
        }
        if (!IsEmptyText(dir.groups[g].Members[0]))
            ++result.counts.groups;
        WriteCrLf(f.get(), line);
    }
    f.reset();

    f = OpenFile(paths.company, "w+");
    if (!f) {
        result.error = kExportOpenError;
        return result;
    }
    WriteCrLf(f.get(), "\"Company #\",\"Name\",\"Address\",\"Socket\",\"TwoWay\",\"Port\",\"Phone\",\"Baud\",\"Max Chars\"");
    for (int slot = 0; slot < kCompanySlots; ++slot) {
        const CompanyRecord& c = dir.companies[slot];
        if (IsEmptyText(c.Name))
            break;
        WriteCrLf(f.get(), Quoted(std::to_string(slot)) + "," + Quoted(GetText(c.Name)) + "," +
                               Quoted(GetText(c.Address)) + "," + Quoted(std::to_string(c.Socket)) + "," +
                               Quoted(std::to_string(c.TwoWay)) + "," + Quoted("COM" + std::to_string(c.Port + 1)) +
                               "," + Quoted(GetText(c.Phone)) + "," + Quoted(std::to_string(c.Baud)) + "," +
                               Quoted(std::to_string(c.MaxChars)));
        ++result.counts.companies;
    }
    return result;
}

CsvResult ImportDirectory(Directory& dir, const CsvPaths& paths) {
    // Each file is read whole before its table is touched: a file that cannot be read replaces nothing.
    CsvResult result;
    bool header = true;
    std::vector<SubscriberRecord> subscribers;
    bool read = ReadLines(paths.subscriber, kShortLineLimit, [&](const std::string& line) {
        if (std::exchange(header, false))
            return true;
        std::vector<std::string> v = ParseLine(line);
        SubscriberRecord s{};
        SetText(s.Name, v.empty() ? "" : v[0]);
        // A record without a Name would be a free slot inside the table, and the table ends at its first one.
        if (IsEmptyText(s.Name))
            return true;
        if (v.size() > 1) SetText(s.PIN, v[1]);
        if (v.size() > 2) s.Company = Atoi(v[2]);
        if (v.size() > 3) s.Tab = static_cast<int8_t>(Atoi(v[3]));
        if (s.Tab < 0 || s.Tab > 2)
            s.Tab = 0; // as the data file's load does: no other tab shows it
        char* texts[] = {s.CompanyName, s.Address, s.City, s.State, s.ZIP, s.WorkPhone, s.HomePhone, s.FAX, s.Cell, s.Email};
        size_t sizes[] = {sizeof(s.CompanyName), sizeof(s.Address), sizeof(s.City), sizeof(s.State), sizeof(s.ZIP),
                          sizeof(s.WorkPhone), sizeof(s.HomePhone), sizeof(s.FAX), sizeof(s.Cell), sizeof(s.Email)};
        for (size_t k = 0; k < 10 && k + 4 < v.size(); ++k) {
            size_t n = std::min(v[k + 4].size(), sizes[k] - 1);
            memcpy(texts[k], v[k + 4].data(), n);
        }
        subscribers.push_back(s);
        return subscribers.size() < kSubscriberSlots;
    });
    if (!read) {
        result.error = kImportOpenError;
        return result;
    }
    memset(dir.subscribers.data(), 0, sizeof dir.subscribers);
    std::copy(subscribers.begin(), subscribers.end(), dir.subscribers.begin());
    result.counts.subscribers = static_cast<int>(subscribers.size());

    // The member names of each group line; an empty one would end the list there for every reader, so it takes
    // no place.
    std::vector<std::vector<std::string>> groups;
    read = ReadLines(paths.group, kGroupLineLimit, [&](const std::string& line) {
        std::vector<std::string> v = ParseLine(line);
        std::vector<std::string>& members = groups.emplace_back();
        for (size_t k = 1; k < v.size() && members.size() < static_cast<size_t>(kGroupMembers); ++k)
            if (!v[k].empty() && v[k][0] != '\0')
                members.push_back(v[k]);
        return groups.size() < kGroupSlots;
    });
    if (!read) {
        result.error = kImportOpenError;
        return result;
    }
    memset(dir.groups.data(), 0, sizeof dir.groups);
    for (size_t g = 0; g < groups.size(); ++g) {
        for (size_t m = 0; m < groups[g].size(); ++m)
            SetText(dir.groups[g].Members[m], groups[g][m]);
        result.counts.groups += groups[g].empty() ? 0 : 1;
    }

    auto companies = dir.companies;
    int slot = 0;
    header = true;
    read = ReadLines(paths.company, kShortLineLimit, [&](const std::string& line) {
        if (std::exchange(header, false))
            return true;
        std::vector<std::string> v = ParseLine(line);
        CompanyRecord& c = companies[slot];
        if (v.size() > 1) SetText(c.Name, v[1]);
        if (v.size() > 2) SetText(c.Address, v[2]);
        if (v.size() > 3) c.Socket = static_cast<int16_t>(Atoi(v[3]));
        if (v.size() > 4) c.TwoWay = static_cast<uint8_t>(Atoi(v[4]));
        if (v.size() > 5) c.Port = static_cast<int16_t>(Atoi(v[5].size() > 3 ? v[5].substr(3) : "") - 1);
        if (v.size() > 6) SetText(c.Phone, v[6]);
        if (v.size() > 7) c.Baud = static_cast<uint16_t>(Atoi(v[7]));
        if (v.size() > 8) c.MaxChars = static_cast<int16_t>(Atoi(v[8]));
        return ++slot < kCompanySlots;
    });
    if (!read) {
        result.error = kImportOpenError;
        return result;
    }
    dir.companies = companies;
    result.counts.companies = slot;
    return result;
}

} // namespace brimlow
