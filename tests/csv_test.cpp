#include "directory/csv.h"
#include "tests/support/test_console.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace brimlow {
namespace {

using test::ReadFile;
using test::WriteFile;

class CsvTest : public ::testing::Test {
protected:
    test::TempDir dir;
    Directory tables;
    CsvPaths paths{dir.File("c.brw"), dir.File("s.brw"), dir.File("g.brw")};
};

// An empty directory exports the headers alone and 200 group lines of a quoted number; every field is quoted.
TEST_F(CsvTest, ExportWritesTheExactLines) {
    const std::string companyHead =
        "\"Company #\",\"Name\",\"Address\",\"Socket\",\"TwoWay\",\"Port\",\"Phone\",\"Baud\",\"Max Chars\"\r\n";
    const std::string subscriberHead = "\"Name\",\"PIN\",\"Company\",\"Tab\",\"CompanyName\",\"Address\",\"City\","
                                       "\"State\",\"ZIP\",\"WorkPhone\",\"HomePhone\",\"FAX\",\"Cell\",\"Email\"\r\n";
    std::string groups;
    for (int g = 0; g < 200; ++g)
        groups += "\"-" + std::to_string(g) + "\"\r\n";
    CsvResult r = ExportDirectory(tables, paths);
    EXPECT_TRUE(r.error.empty());
    EXPECT_EQ(r.counts.companies + r.counts.subscribers + r.counts.groups, 0);
    EXPECT_EQ(ReadFile(paths.company), companyHead);
    EXPECT_EQ(ReadFile(paths.subscriber), subscriberHead);
    EXPECT_EQ(ReadFile(paths.group), groups);

    tables.companies[0] = test::MakeCompany("Metro Paging", "snpp.metro.example", 444);
    tables.companies[0].Port = 1;
    tables.companies[0].TwoWay = 1;
    SetText(tables.companies[0].Phone, "5551000");
    SubscriberRecord s = test::MakeSubscriber("Ann Lee", 0, "123", 2);
    SetText(s.City, "Springfield");
    SetText(s.Email, "ann@example.org");
    AddSubscriber(tables, s);
    test::AddGroup(tables, "Desks", {"Desk A", "Desk B"});
    r = ExportDirectory(tables, paths);
    EXPECT_EQ(std::vector({r.counts.companies, r.counts.subscribers, r.counts.groups}), std::vector({1, 2, 1}));
    EXPECT_EQ(ReadFile(paths.company), companyHead + "\"0\",\"Metro Paging\",\"snpp.metro.example\",\"444\",\"1\","
                                                     "\"COM2\",\"5551000\",\"9600\",\"300\"\r\n");
    EXPECT_EQ(
        ReadFile(paths.subscriber),
        subscriberHead +
            "\"Ann "
            "Lee\",\"123\",\"0\",\"2\",\"\",\"\",\"Springfield\",\"\",\"\",\"\",\"\",\"\",\"\",\"ann@example.org\"\r\n"
            "\"Desks\",\"\",\"-1\",\"0\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\r\n");
    EXPECT_EQ(ReadFile(paths.group), groups.replace(6, 6, "\"-1\",\"Desk A\",\"Desk B\"\r\n"));
}

// Blank and nameless lines take no slot: a free slot inside the table would end it there, hiding the rest.
TEST_F(CsvTest, ImportTakesVariationsInBlanksLineEndsAndShortLinesAndLeavesNoHoles) {
    WriteFile(paths.subscriber, "header\n"
                                "  \"Ann\" ,  \"12\"\n"                 // only Name and PIN
                                "\n"                                    // no record
                                "\"\",\"99\",\"1\"\n"                   // no Name: no record
                                "\"Bob   Smith\",\"7\",\"3\",\"1\"\r\n" // CR LF, a run of blanks
                                "\"Cy\",\"8\",\"-2\",\"7\"");           // no final line end, no such tab
    WriteFile(paths.group, "\"-0\"\n\"-1\", \"Ann\",\"Bob Smith\"\n");
    WriteFile(paths.company, "h\n\"0\",\"Metro\",\"host\",\"555\",\"1\",\"COM4\",\"911\",\"1200\",\"150\"\n"
                             "\"1\",\"Tiny\",\"h\",\"1\",\"0\",\"CO\"\n");
    tables.companies[1].Baud = 4800; // not carried by the short line: kept
    CsvResult r = ImportDirectory(tables, paths);
    ASSERT_TRUE(r.error.empty());
    EXPECT_EQ(r.counts.subscribers, 3);
    std::vector<std::string> rows; // Name PIN Company Tab of each used slot
    for (int slot = 0; slot < UsedSubscriberSlots(tables); ++slot) {
        const SubscriberRecord& s = tables.subscribers[slot];
        rows.push_back(GetText(s.Name) + "|" + GetText(s.PIN) + "|" + std::to_string(s.Company) + "|" +
                       std::to_string(s.Tab));
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"Ann|12|0|0", "Bob Smith|7|3|1", "Cy|8|-2|0"}));
    EXPECT_EQ(GetText(tables.groups[1].Members[1]), "Bob Smith");
    EXPECT_EQ(r.counts.groups, 1);
    const CompanyRecord &metro = tables.companies[0], &tiny = tables.companies[1];
    EXPECT_EQ(std::vector<int>({metro.Port, metro.Socket, metro.MaxChars, tiny.Port, tiny.Baud}),
              std::vector<int>({3, 555, 150, -1, 4800})); // a short Port column reads as no number
}

// Import stops at the table limits; a line longer than any export writes is cut and its rest skipped.
TEST_F(CsvTest, ImportStopsAtTheTableAndLineLimits) {
    std::string subs = "h\n\"" + std::string(700, 'x') + "\",\"1\"\n";
    for (int i = 0; i < 2100; ++i)
        subs += "\"S" + std::to_string(i) + "\"\n";
    WriteFile(paths.subscriber, subs);
    std::string groups;
    for (int i = 0; i < 250; ++i)
        groups += "\"-" + std::to_string(i) + "\",\"M\"\n";
    WriteFile(paths.group, groups);
    std::string companies = "h\n";
    for (int i = 0; i < 150; ++i)
        companies += "\"" + std::to_string(i) + "\",\"C" + std::to_string(i) + "\"\n";
    WriteFile(paths.company, companies);
    CsvResult r = ImportDirectory(tables, paths);
    EXPECT_EQ(r.counts.subscribers, 2000);
    EXPECT_EQ(r.counts.groups, 200);
    EXPECT_EQ(r.counts.companies, 100);
    EXPECT_EQ(GetText(tables.companies[99].Name), "C99");
    EXPECT_EQ(GetText(tables.subscribers[0].Name), std::string(78, 'x'));
    EXPECT_EQ(GetText(tables.subscribers[1].Name), "S0");
}

// A file that cannot be opened, or that is a folder (it opens, and its first read fails), ends the import there
// and replaces nothing of its table; the files before it stay imported.
TEST_F(CsvTest, UnreadableFilesEndTheImportAtThatFileAndReplaceNothing) {
    tables.subscribers[0] = test::MakeSubscriber("Keep", 0);
    SetText(tables.groups[1].Members[0], "Old member");
    SetText(tables.companies[0].Name, "Old Co");
    mkdir(dir.File("folder").c_str(), 0700);
    for (std::string CsvPaths::*unreadable : {&CsvPaths::subscriber, &CsvPaths::group, &CsvPaths::company}) {
        for (const std::string& path : {dir.File("missing"), dir.File("folder")}) {
            WriteFile(paths.subscriber, "h\n\"New\"\n");
            WriteFile(paths.group, "\"-0\"\n\"-1\",\"New member\"\n");
            WriteFile(paths.company, "h\n\"0\",\"New Co\"\n");
            CsvPaths broken = paths;
            broken.*unreadable = path;
            CsvResult r = ImportDirectory(tables, broken);
            EXPECT_EQ(r.error, kImportOpenError) << path;
            bool subscribers = unreadable != &CsvPaths::subscriber, groups = unreadable == &CsvPaths::company;
            EXPECT_EQ(GetText(tables.subscribers[0].Name), subscribers ? "New" : "Keep") << path;
            EXPECT_EQ(GetText(tables.groups[1].Members[0]), groups ? "New member" : "Old member") << path;
            EXPECT_EQ(GetText(tables.companies[0].Name), "Old Co") << path;
            EXPECT_EQ(r.counts.subscribers + r.counts.groups + r.counts.companies, subscribers + groups) << path;
            tables.subscribers[0] = test::MakeSubscriber("Keep", 0);
            SetText(tables.groups[1].Members[0], "Old member");
        }
    }
}

TEST_F(CsvTest, ExportReportsAnUnwritableFile) {
    paths.group = dir.File("no/such/folder/g.brw");
    CsvResult r = ExportDirectory(tables, paths);
    EXPECT_EQ(r.error, kExportOpenError);
    EXPECT_TRUE(test::FileExists(paths.subscriber));
    EXPECT_FALSE(test::FileExists(paths.company)) << "the company file is not written after a failure";
    EXPECT_TRUE(ExportTargetsExist(paths));
}

TEST(CsvLines, BlanksShrinkAndFieldsSplitAtCommasAfterQuotesOnly) {
    const std::pair<std::string, std::string> blanks[] = {{"   \"a  b\" , \"  c\"  ", "\"a b\",\"c\""},
                                                          {"\"x\", \"y\"", "\"x\",\"y\""},
                                                          {"", ""},
                                                          {"    ", ""},
                                                          {"a b ", "a b"}};
    for (const auto& [line, normalized] : blanks)
        EXPECT_EQ(NormalizeBlanks(line), normalized) << line;
    const std::pair<std::string, std::vector<std::string>> fields[] = {
        {"\"a,b\",\"c\"", {"a,b", "c"}}, {"\"\",\"\",\"x\"", {"", "", "x"}}, {"\"", {""}}, {"", {}}};
    for (const auto& [line, split] : fields)
        EXPECT_EQ(SplitQuotedFields(line), split) << line;
}

} // namespace
} // namespace brimlow
