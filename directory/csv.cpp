#include "directory/csv.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace brimlow {
namespace {

constexpr size_t kShortLineLimit = 299;
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
    CsvResult result;
    std::string line;

    File f = OpenFile(paths.subscriber, "r");
    if (!f) {
        result.error = kImportOpenError;
        return result;
    }
    memset(dir.subscribers.data(), 0, sizeof(dir.subscribers));
    ReadLine(f.get(), kShortLineLimit, line);
    for (int slot = 0; slot < kSubscriberSlots && ReadLine(f.get(), kShortLineLimit, line); ++slot) {
        std::vector<std::string> v = ParseLine(line);
        SubscriberRecord& s = dir.subscribers[slot];
        if (v.size() > 0) SetText(s.Name, v[0]);
        if (v.size() > 1) SetText(s.PIN, v[1]);
        if (v.size() > 2) s.Company = Atoi(v[2]);
        if (v.size() > 3) s.Tab = static_cast<int8_t>(Atoi(v[3]));
        char* texts[] = {s.CompanyName, s.Address, s.City, s.State, s.ZIP, s.WorkPhone, s.HomePhone, s.FAX, s.Cell, s.Email};
        size_t sizes[] = {sizeof(s.CompanyName), sizeof(s.Address), sizeof(s.City), sizeof(s.State), sizeof(s.ZIP),
                          sizeof(s.WorkPhone), sizeof(s.HomePhone), sizeof(s.FAX), sizeof(s.Cell), sizeof(s.Email)};
        for (size_t k = 0; k < 10 && k + 4 < v.size(); ++k) {
            size_t n = std::min(v[k + 4].size(), sizes[k] - 1);
            memcpy(texts[k], v[k + 4].data(), n);
        }
        ++result.counts.subscribers;
    }
    f.reset();

    f = OpenFile(paths.group, "r");
    if (!f) {
        result.error = kImportOpenError;
        return result;
    }
    memset(dir.groups.data(), 0, sizeof(dir.groups));
    for (int g = 0; g < kGroupSlots && ReadLine(f.get(), kGroupLineLimit, line); ++g) {
        std::vector<std::string> v = ParseLine(line);
        for (size_t m = 0; m < static_cast<size_t>(kGroupMembers) && m + 1 < v.size(); ++m)
            SetText(dir.groups[g].Members[m], v[m + 1]);
        if (!IsEmptyText(dir.groups[g].Members[0]))
            ++result.counts.groups;
    }
    f.reset();

    f = OpenFile(paths.company, "r");
    if (!f) {
        result.error = kImportOpenError;
        return result;
    }
    ReadLine(f.get(), kShortLineLimit, line);
    for (int slot = 0; slot < kCompanySlots && ReadLine(f.get(), kShortLineLimit, line); ++slot) {
        std::vector<std::string> v = ParseLine(line);
        CompanyRecord& c = dir.companies[slot];
        if (v.size() > 1) SetText(c.Name, v[1]);
        if (v.size() > 2) SetText(c.Address, v[2]);
        if (v.size() > 3) c.Socket = static_cast<int16_t>(Atoi(v[3]));
        if (v.size() > 4) c.TwoWay = static_cast<uint8_t>(Atoi(v[4]));
        if (v.size() > 5) c.Port = static_cast<int16_t>(Atoi(v[5].size() > 3 ? v[5].substr(3) : "") - 1);
        if (v.size() > 6) SetText(c.Phone, v[6]);
        if (v.size() > 7) c.Baud = static_cast<uint16_t>(Atoi(v[7]));
        if (v.size() > 8) c.MaxChars = static_cast<int16_t>(Atoi(v[8]));
        ++result.counts.companies;
    }
    return result;
}

} // namespace brimlow
