#include "directory/csv.h"
#include "directory/data_files.h"
#include "directory/directory.h"
#include "tests/support/test_console.h"

#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

namespace brimlow {
namespace {

using test::MakeSubscriber;
using test::ReadFile;
using test::RecordBytes;
using test::WriteFile;

class DataFilesTest : public ::testing::Test {
protected:
    test::TempDir dir;
    Directory tables;
    ModemSettings modem{};
    Signature signature{};
    std::string File(const char* name) { return dir.File(name); }
    int LoadTables() { return LoadDirectoryFiles(dir.Path(), tables, modem); }
    bool LoadAll() {
        return LoadTables() && LoadCompanyFile(dir.Path(), tables) && LoadSignatureFile(dir.Path(), signature);
    }
    bool SaveAll() {
        return SaveDirectoryFiles(dir.Path(), tables, modem) && SaveCompanyFile(dir.Path(), tables) &&
               SaveSignatureFile(dir.Path(), signature);
    }
};

// A fresh data directory gets every file and the defaults; a save writes whole tables, a load gives every byte back.
TEST_F(DataFilesTest, FreshDirectoryStartsWithDefaultsAndRoundTripsWholeTables) {
    ASSERT_TRUE(LoadAll());
    for (const CompanyRecord& c : tables.companies)
        ASSERT_TRUE(c.Socket == 444 && c.MaxChars == 300 && IsEmptyText(c.Name));
    struct stat st {};
    EXPECT_TRUE(stat(File(kTrackingFolder).c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    tables.companies[5] = test::MakeCompany("North", "10.0.0.1", 444);
    tables.subscribers[0] = MakeSubscriber("Ann", 5, "99", 1);
    tables.subscribers[0].LockByte = 0xFF;
    SetText(tables.groups[2].Members[199], "Bob");
    SetText(signature.Text, std::string(100, 's'));
    signature.Attach = 1;
    ASSERT_TRUE(SaveAll());
    EXPECT_EQ(tables.subscribers[0].LockByte, 0);
    for (auto [name, size] : {std::pair{kCompanyFile, 75800u},
                              {kSubscriberFile, 1072000u},
                              {kGroupFile, 3240000u},
                              {kModemFile, 112u},
                              {kSignatureFile, 104u}})
        EXPECT_EQ(ReadFile(File(name)).size(), size) << name;
    std::string modemBytes = ReadFile(File(kModemFile));
    EXPECT_EQ(modemBytes.substr(0, 7) + modemBytes.substr(81, 5), std::string("ATE0M0\0ATDT\0", 12));
    auto saved = std::make_unique<Directory>(tables);
    tables.Clear();
    signature = {};
    ASSERT_TRUE(LoadAll());
    EXPECT_EQ(memcmp(saved.get(), &tables, sizeof tables), 0);
    EXPECT_EQ(std::string(signature.Text) + std::to_string(signature.Attach), std::string(100, 's') + "1");
    for (const std::string& name : test::ListDir(dir.Path()))
        EXPECT_NE(name[0], '.') << name;
}

// A load mends short files, lock bytes, tabs above 2, the earlier group layout, names run on after a marker byte.
TEST_F(DataFilesTest, LoadMendsShortLockedAndOlderFiles) {
    WriteFile(File(kCompanyFile), RecordBytes(test::MakeCompany("Metro", "snpp.example", 7777)));
    WriteFile(File(kModemFile), std::string("AT&F\0", 5));
    std::string subscribers;
    for (auto [tab, lock] : {std::pair{3, 0xFF}, {2, 7}, {100, 0}}) {
        SubscriberRecord r = MakeSubscriber("S" + std::to_string(tab), 1, "1", tab);
        r.LockByte = static_cast<uint8_t>(lock);
        subscribers += RecordBytes(r);
    }
    WriteFile(File(kSubscriberFile), subscribers);
    std::string old(kEarlierGroupFileSize, '\0');
    memcpy(old.data() + (3 * 20 + 19) * 81, "Desk Z", 6);
    memcpy(old.data() + (49 * 20 + 5) * 81, "Last", 4);
    WriteFile(File(kGroupFile), old);
    ASSERT_TRUE(LoadAll());
    EXPECT_EQ(tables.companies[0].Socket, 7777);
    EXPECT_EQ(tables.companies[99].Socket, 444);
    EXPECT_EQ(GetText(modem.InitString) + GetText(modem.DialPrefix), "AT&FATDT");
    for (auto [slot, tab] : {std::pair{0, 0}, {1, 2}, {2, 0}})
        EXPECT_TRUE(tables.subscribers[slot].Tab == tab && tables.subscribers[slot].LockByte == 0) << slot;
    EXPECT_EQ(GetText(tables.groups[3].Members[19]), "Desk Z");
    EXPECT_TRUE(IsEmptyText(tables.groups[3].Members[20]));
    EXPECT_EQ(GetText(tables.groups[49].Members[5]), "Last");
    ASSERT_EQ(SaveDirectoryFiles(dir.Path(), tables, modem), 1);
    EXPECT_EQ(ReadFile(File(kGroupFile)).substr(3 * 16200 + 19 * 81, 7), std::string("Desk Z\0", 7));

    std::string current(kEarlierGroupFileSize + 1, '\0'); // one byte more is the current layout
    const char marked[] = "Duty Desk  \xCCgarbage\xCC";
    memcpy(current.data() + 16200, marked, sizeof marked - 1);
    memcpy(current.data() + 16200 + 81, "\xCCx", 2);
    memcpy(current.data() + 16200 + 2 * 81, "Second", 6);
    WriteFile(File(kGroupFile), current);
    ASSERT_EQ(LoadTables(), 1);
    EXPECT_EQ(GetText(tables.groups[1].Members[0]), "Duty Desk");
    EXPECT_EQ(tables.groups[1].Members[0][19], '\0') << "every marker in the name is cut";
    EXPECT_TRUE(IsEmptyText(tables.groups[1].Members[1]));
    EXPECT_EQ(GetText(tables.groups[1].Members[2]), "Second");

    ASSERT_TRUE(unlink(File(kGroupFile).c_str()) == 0 && mkdir(File(kGroupFile).c_str(), 0700) == 0);
    EXPECT_EQ(LoadTables(), 0);
    EXPECT_EQ(GetText(tables.subscribers[0].Name) + GetText(modem.InitString), "S3AT&F");
}

class TableOpsTest : public ::testing::Test {
protected:
    Directory dir;
    // Names from a few letters in mixed case, so that many compare equal without regard to case.
    static std::string RandomName(std::mt19937& random) {
        std::string name(1 + random() % 3, 'a');
        for (char& c : name)
            c = static_cast<char>((random() % 2 ? 'a' : 'A') + random() % 3);
        return name;
    }
};

// Sorts of random tables are by name without regard to case, stable, and say whether anything moved.
TEST_F(TableOpsTest, SortsAreStableWithoutRegardToCaseAndSayWhetherAnythingMoved) {
    std::mt19937 random(1312);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        const int used = static_cast<int>(random() % (round < 297 ? 120 : kSubscriberSlots));
        dir.Clear();
        for (int k = 0; k < used; ++k)
            dir.subscribers[k] = MakeSubscriber(RandomName(random), 0);
        if (round % 3 == 1 && used > 0) {
            SortSubscribers(dir);
            SetText(dir.subscribers[random() % used].Name, RandomName(random));
        }
        if (round % 5 == 2)
            std::reverse(dir.subscribers.begin(), dir.subscribers.begin() + used);
        bool outOfOrder = false;
        for (int k = 0; k < used; ++k) {
            SetText(dir.subscribers[k].PIN, std::to_string(k));
            if (used <= kGroupMembers)
                SetText(dir.groups[1].Members[k], GetText(dir.subscribers[k].Name));
            outOfOrder |= k > 0 && CompareNamesNoCase(dir.subscribers[k - 1].Name, dir.subscribers[k].Name) > 0;
        }
        ASSERT_EQ(SortSubscribers(dir), outOfOrder);
        for (int k = 1; k < used; ++k) { // a lost or doubled record shows as an equal neighbour of the same PIN
            const SubscriberRecord &before = dir.subscribers[k - 1], &r = dir.subscribers[k];
            int order = CompareNamesNoCase(before.Name, r.Name);
            ASSERT_TRUE(order < 0 || (order == 0 && std::stoi(before.PIN) < std::stoi(r.PIN))) << k;
        }
        if (used <= kGroupMembers) {
            ASSERT_EQ(SortGroupMembers(dir.groups[1]), outOfOrder);
            for (int k = 0; k < used; ++k)
                ASSERT_EQ(GetText(dir.groups[1].Members[k]), GetText(dir.subscribers[k].Name)) << k;
        }
    }
}

// An empty slot among the used ones sorts after them: first, it would end the table and hide the rest.
TEST_F(TableOpsTest, EmptySlotsSortLastAndFreeGroupSlotsAreFound) {
    int k = 0;
    for (const char* name : {"bob", "", "Ann", "", "ann"})
        dir.subscribers[k++] = MakeSubscriber(name, 0, std::string("pin ") + name);
    EXPECT_TRUE(SortSubscribers(dir));
    EXPECT_EQ(UsedSubscriberSlots(dir), 3);
    EXPECT_EQ(GetText(dir.subscribers[0].PIN) + GetText(dir.subscribers[2].Name), "pin Annbob");
    EXPECT_TRUE(IsEmptyText(dir.subscribers[4].Name));
    GroupRecord& group = dir.groups[2];
    k = 0;
    for (const char* name : {"zed", "", "Amy"})
        SetText(group.Members[k++], name);
    EXPECT_TRUE(SortGroupMembers(group));
    EXPECT_EQ(GetText(group.Members[0]) + GetText(group.Members[1]) + GetText(group.Members[2]), "Amyzed");
    EXPECT_EQ(AllocateGroupNumber(dir), 1); // the first free group slot from 1 up; with every slot taken, none
    for (int g = 1; g < kGroupSlots; ++g)
        SetText(dir.groups[g].Members[0], "x");
    EXPECT_EQ(AllocateGroupNumber(dir), 0);
    SetText(dir.groups[150].Members[0], "");
    EXPECT_EQ(AllocateGroupNumber(dir), 150);
}

// The name index finds what a scan of every slot finds, in the same order.
TEST_F(TableOpsTest, GroupExpansionMatchesTheScanOfEverySlot) {
    std::mt19937 random(77);
    for (int k = 0; k < 600; ++k)
        AddSubscriber(dir, MakeSubscriber(RandomName(random), k % 5));
    for (int g = 0; g < 20; ++g) {
        std::vector<std::string> members;
        for (int m = 0; m < 1 + static_cast<int>(random() % kGroupMembers); ++m)
            members.push_back(m % 9 == 0 ? "Group 1" : RandomName(random));
        test::AddGroup(dir, "Group " + std::to_string(g), members);
    }
    AddSubscriber(dir, MakeSubscriber("Broken", -5000)); // no group slot: nobody
    AddSubscriber(dir, MakeSubscriber("Worst", INT32_MIN));
    SetText(dir.subscribers[10].Name, ""); // a hole: the expansion still looks at every slot
    for (int slot = 0; slot < 700; ++slot) {
        std::vector<int> found, scanned;
        ExpandEntry(dir, slot, [&](int s) { return found.push_back(s), true; });
        const SubscriberRecord& entry = dir.subscribers[slot];
        if (!entry.IsGroup()) {
            scanned = {slot};
        } else if (int group = GroupNumberOf(entry)) {
            const auto& members = dir.groups[group].Members;
            for (int m = 0; m < kGroupMembers && !IsEmptyText(members[m]); ++m)
                for (int s = 0; s < kSubscriberSlots; ++s)
                    if (!dir.subscribers[s].IsGroup() && GetText(dir.subscribers[s].Name) == members[m])
                        scanned.push_back(s);
        }
        ASSERT_EQ(found, scanned) << slot;
    }
}

class CsvTest : public ::testing::Test {
protected:
    test::TempDir dir;
    Directory tables;
    CsvPaths paths{dir.File("c.brw"), dir.File("s.brw"), dir.File("g.brw")};
};

// Every field is quoted, and the group file has a line for each group slot, used or not.
TEST_F(CsvTest, ExportWritesTheExactLines) {
    tables.companies[0] = test::MakeCompany("Metro Paging", "snpp.metro.example", 444);
    tables.companies[0].Port = 1;
    tables.companies[0].TwoWay = 1;
    SetText(tables.companies[0].Phone, "5551000");
    SubscriberRecord s = test::MakeSubscriber("Ann Lee", 0, "123", 2);
    SetText(s.City, "Springfield");
    SetText(s.Email, "ann@example.org");
    AddSubscriber(tables, s);
    test::AddGroup(tables, "Desks", {"Desk A", "Desk B"});
    CsvResult r = ExportDirectory(tables, paths);
    EXPECT_TRUE(r.error.empty());
    EXPECT_EQ(ReadFile(paths.company),
              "\"Company #\",\"Name\",\"Address\",\"Socket\",\"TwoWay\",\"Port\",\"Phone\",\"Baud\",\"Max Chars\"\r\n"
              "\"0\",\"Metro Paging\",\"snpp.metro.example\",\"444\",\"1\",\"COM2\",\"5551000\",\"9600\",\"300\"\r\n");
    EXPECT_EQ(ReadFile(paths.subscriber),
              "\"Name\",\"PIN\",\"Company\",\"Tab\",\"CompanyName\",\"Address\",\"City\",\"State\",\"ZIP\","
              "\"WorkPhone\",\"HomePhone\",\"FAX\",\"Cell\",\"Email\"\r\n"
              "\"Ann Lee\",\"123\",\"0\",\"2\",\"\",\"\",\"Springfield\","
              "\"\",\"\",\"\",\"\",\"\",\"\",\"ann@example.org\"\r\n"
              "\"Desks\",\"\",\"-1\",\"0\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\r\n");
    std::string groups;
    for (int g = 0; g < kGroupSlots; ++g)
        groups += g == 1 ? "\"-1\",\"Desk A\",\"Desk B\"\r\n" : "\"-" + std::to_string(g) + "\"\r\n";
    EXPECT_EQ(ReadFile(paths.group), groups);
}

// Blank and nameless lines take no slot: a free slot inside the table would end it there, hiding the rest.
TEST_F(CsvTest, ImportTakesVariationsInBlanksLineEndsAndShortLinesAndLeavesNoHoles) {
    WriteFile(paths.subscriber, "header\n"
                                "  \"Ann\" ,  \"12\"\n"                 // only Name and PIN
                                "\n"                                    // no record
                                "\"\",\"99\",\"1\"\n"                   // no Name: no record
                                "\"Bob   Smith\",\"7\",\"3\",\"1\"\r\n" // CR LF, a run of blanks
                                "\"  Cy, Jr\",\"8\",\"-2\",\"7\"");     // no final line end, bad tab
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
    EXPECT_EQ(rows, (std::vector<std::string>{"Ann|12|0|0", "Bob Smith|7|3|1", "Cy, Jr|8|-2|0"}));
    EXPECT_EQ(GetText(tables.groups[1].Members[1]), "Bob Smith");
    EXPECT_EQ(r.counts.groups, 1);
    const CompanyRecord &metro = tables.companies[0], &tiny = tables.companies[1];
    EXPECT_EQ(std::vector<int>({metro.Port, metro.Socket, metro.MaxChars, tiny.Port, tiny.Baud}),
              std::vector<int>({3, 555, 150, -1, 4800})); // a short Port column reads as no number
}

// Import stops at the table limits; a line longer than any export writes is cut and its rest skipped.
TEST_F(CsvTest, ImportStopsAtTheTableAndLineLimits) {
    auto lines = [](std::string text, int count, const std::string& before, const std::string& after) {
        for (int i = 0; i < count; ++i)
            text += before + std::to_string(i) + after;
        return text;
    };
    WriteFile(paths.subscriber, lines("h\n\"" + std::string(700, 'x') + "\",\"1\"\n", 2100, "\"S", "\"\n"));
    WriteFile(paths.group, lines("", 250, "\"-", "\",\"M\"\n"));
    WriteFile(paths.company, lines("h\n", 150, "\"", "\",\"C\"\n"));
    CsvResult r = ImportDirectory(tables, paths);
    EXPECT_EQ(r.counts.subscribers, 2000);
    EXPECT_EQ(r.counts.groups, 200);
    EXPECT_EQ(r.counts.companies, 100);
    EXPECT_EQ(GetText(tables.companies[99].Name), "C");
    EXPECT_EQ(GetText(tables.subscribers[0].Name), std::string(78, 'x'));
    EXPECT_EQ(GetText(tables.subscribers[1].Name), "S0");
}

// A file that cannot be read (missing, or a folder) ends the import there and replaces nothing of its table.
TEST_F(CsvTest, UnreadableFilesEndTheImportAtThatFileAndReplaceNothing) {
    SetText(tables.companies[0].Name, "Old Co");
    mkdir(dir.File("folder").c_str(), 0700);
    for (std::string CsvPaths::*unreadable : {&CsvPaths::subscriber, &CsvPaths::group, &CsvPaths::company}) {
        for (const std::string& path : {dir.File("missing"), dir.File("folder")}) {
            tables.subscribers[0] = test::MakeSubscriber("Keep", 0);
            SetText(tables.groups[1].Members[0], "Old member");
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
        }
    }
}

} // namespace
} // namespace brimlow
