// CSV import: whatever the three files hold, the import ends, the subscriber table has no free slot inside its
// used part and no group an empty member before a used one; tables whose texts the format carries survive an
// export and a second import unchanged.
#include "directory/csv.h"
#include "directory/data_files.h"
#include "directory/file_io.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <memory>

namespace {

using namespace brimlow;

void Write(const std::string& path, const std::string& bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0 && WriteFully(fd, bytes.data(), bytes.size()));
    close(fd);
}

CsvPaths Paths(const std::string& prefix) {
    const std::string& folder = fuzz::ScratchFolder();
    return {JoinPath(folder, prefix + "c.csv"), JoinPath(folder, prefix + "s.csv"), JoinPath(folder, prefix + "g.csv")};
}

// The fields an export carries of the companies it writes: those before the first without a Name.
bool SameCompanies(const Directory& a, const Directory& b) {
    for (int k = 0; k < kCompanySlots && !IsEmptyText(a.companies[k].Name); ++k) {
        const CompanyRecord &x = a.companies[k], &y = b.companies[k];
        if (GetText(x.Name) != GetText(y.Name) || GetText(x.Address) != GetText(y.Address) ||
            GetText(x.Phone) != GetText(y.Phone) || x.Socket != y.Socket || x.TwoWay != y.TwoWay || x.Port != y.Port ||
            x.Baud != y.Baud || x.MaxChars != y.MaxChars)
            return false;
    }
    return true;
}

// Whether the file format can carry the text: it has no escaping, and blanks are cleaned on import.
bool Carried(const std::string& text) {
    return text.find_first_of(std::string("\"\0", 2)) == std::string::npos && text.find("  ") == std::string::npos &&
           (text.empty() || (text.front() != ',' && text.front() != ' ' && text.back() != ' '));
}

std::vector<std::string> Texts(const SubscriberRecord& s) {
    return {GetText(s.Name),  GetText(s.PIN),   GetText(s.CompanyName),    GetText(s.Address),   GetText(s.City),
            GetText(s.State), GetText(s.ZIP),   GetText(s.WorkPhone),      GetText(s.HomePhone), GetText(s.FAX),
            GetText(s.Cell),  GetText(s.Email), std::to_string(s.Company), std::to_string(s.Tab)};
}

// The texts of the used subscriber slots, the group members up to each group's first empty one, then the
// companies'.
std::vector<std::string> Texts(const Directory& dir) {
    std::vector<std::string> texts;
    for (int k = 0; k < UsedSubscriberSlots(dir); ++k)
        for (const std::string& text : Texts(dir.subscribers[k]))
            texts.push_back(text);
    for (const GroupRecord& g : dir.groups) {
        for (int m = 0; m < kGroupMembers && !IsEmptyText(g.Members[m]); ++m)
            texts.push_back(GetText(g.Members[m]));
        texts.push_back("");
    }
    for (const CompanyRecord& c : dir.companies)
        for (const std::string& text : {GetText(c.Name), GetText(c.Address), GetText(c.Phone)})
            texts.push_back(text);
    return texts;
}

} // namespace

// The input is the subscriber, the group and the company file, separated by 0xFF bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    CsvPaths in = Paths("in-");
    Write(in.subscriber, input.Text());
    Write(in.group, input.Text());
    Write(in.company, input.Text());
    // The tables are made once: fresh ones each time would cost most of the run in page faults.
    static const auto fresh = Directory::Create();
    static auto imported = Directory::Create(), again = Directory::Create();
    imported->companies = again->companies = fresh->companies;
    CsvResult first = ImportDirectory(*imported, in);
    FUZZ_CHECK(first.error.empty());
    FUZZ_CHECK(UsedSubscriberSlots(*imported) == first.counts.subscribers);
    for (const GroupRecord& g : imported->groups) // no empty member before a used one
        for (int m = 1; m < kGroupMembers; ++m)
            FUZZ_CHECK(IsEmptyText(g.Members[m]) || !IsEmptyText(g.Members[m - 1]));
    std::vector<std::string> texts = Texts(*imported);
    if (!std::all_of(texts.begin(), texts.end(), [](const std::string& text) { return Carried(text); }))
        return 0;

    CsvPaths out = Paths("out-");
    FUZZ_CHECK(ExportDirectory(*imported, out).error.empty());
    CsvResult second = ImportDirectory(*again, out);
    FUZZ_CHECK(second.error.empty());
    std::vector<std::string> againTexts = Texts(*again);
    FUZZ_CHECK(againTexts.size() == texts.size() &&
               std::equal(texts.begin(), texts.end() - 3 * kCompanySlots, againTexts.begin()));
    FUZZ_CHECK(SameCompanies(*imported, *again));
    return 0;
}
