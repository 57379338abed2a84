#include "directory/data_files.h"
#include "directory/directory.h"
#include "tests/support/test_console.h"

#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sys/stat.h>

namespace brimlow {
namespace {

using test::MakeSubscriber;
using test::ReadFile;
using test::RecordBytes;
using test::WriteFile;

TEST(RecordText, SetTextCutsToTheFieldAndPadsItWithZeros) {
    char field[5];
    SetText(field, "abcdefgh");
    EXPECT_EQ(std::string(field, 5), std::string("abcd\0", 5));
    SetText(field, "x");
    EXPECT_EQ(std::string(field, 5), std::string("x\0\0\0\0", 5));
}

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

// A fresh data directory: every file is created, the defaults fill the tables and survive the first save.
TEST_F(DataFilesTest, FreshDirectoryStartsWithDefaultsAndSavesWholeTables) {
    ASSERT_TRUE(LoadAll());
    for (const CompanyRecord& c : tables.companies)
        ASSERT_TRUE(c.Socket == 444 && c.MaxChars == 300 && IsEmptyText(c.Name));
    struct stat st {};
    EXPECT_TRUE(stat(File(kTrackingFolder).c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    ASSERT_TRUE(SaveAll());
    for (auto [name, size] : {std::pair{kCompanyFile, 75800u},
                              {kSubscriberFile, 1072000u},
                              {kGroupFile, 3240000u},
                              {kModemFile, 112u},
                              {kSignatureFile, 104u}})
        EXPECT_EQ(ReadFile(File(name)).size(), size) << name;
    std::string modemBytes = ReadFile(File(kModemFile));
    EXPECT_EQ(modemBytes.substr(0, 7), std::string("ATE0M0\0", 7));
    EXPECT_EQ(modemBytes.substr(81, 5), std::string("ATDT\0", 5));
}

TEST_F(DataFilesTest, ShortFilesFillOnlyWhatTheyCoverAndTheRestKeepsItsDefaults) {
    WriteFile(File(kCompanyFile), RecordBytes(test::MakeCompany("Metro", "snpp.example", 7777)));
    WriteFile(File(kModemFile), std::string("AT&F\0", 5));
    ASSERT_TRUE(LoadAll());
    EXPECT_EQ(GetText(tables.companies[0].Name), "Metro");
    EXPECT_EQ(tables.companies[0].Socket, 7777);
    EXPECT_EQ(tables.companies[99].Socket, 444);
    EXPECT_EQ(GetText(modem.InitString), "AT&F");
    EXPECT_EQ(GetText(modem.DialPrefix), "ATDT");
}

// What a load mends: lock bytes left set, tabs above 2, the earlier group layout (50 groups of 20), and member
// names that run on after a marker byte (cut there, with the blanks before it).
TEST_F(DataFilesTest, LoadClearsLocksMovesUnknownTabsAndReadsOlderGroupFiles) {
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
    ASSERT_EQ(LoadTables(), 1);
    for (auto [slot, tab] : {std::pair{0, 0}, {1, 2}, {2, 0}}) {
        EXPECT_EQ(tables.subscribers[slot].Tab, tab) << slot;
        EXPECT_EQ(tables.subscribers[slot].LockByte, 0) << slot;
    }
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
}

TEST_F(DataFilesTest, MissingGroupFileStopsTheLoadAfterSubscribers) {
    ASSERT_EQ(mkdir(File(kGroupFile).c_str(), 0700), 0); // a folder cannot be opened as a file
    WriteFile(File(kSubscriberFile), RecordBytes(MakeSubscriber("Ann", 0)));
    EXPECT_EQ(LoadTables(), 0);
    EXPECT_EQ(GetText(tables.subscribers[0].Name), "Ann");
    EXPECT_EQ(GetText(modem.InitString), "ATE0M0");
}

TEST_F(DataFilesTest, SaveThenLoadRoundTripsEveryTableWithoutTemporaryFiles) {
    tables.companies[5] = test::MakeCompany("North", "10.0.0.1", 444);
    tables.subscribers[0] = MakeSubscriber("Ann", 5, "99", 1);
    tables.subscribers[0].LockByte = 0xFF;
    SetText(tables.groups[2].Members[199], "Bob");
    SetText(modem.InitString, "ATZ");
    SetText(signature.Text, std::string(100, 's'));
    signature.Attach = 1;
    ASSERT_TRUE(SaveAll());
    EXPECT_EQ(tables.subscribers[0].LockByte, 0) << "a save clears the lock bytes";

    auto saved = std::make_unique<Directory>(tables);
    signature = {};
    ASSERT_TRUE(LoadAll());
    EXPECT_EQ(memcmp(saved.get(), &tables, sizeof tables), 0);
    EXPECT_EQ(GetText(modem.InitString), "ATZ");
    EXPECT_EQ(std::string(signature.Text), std::string(100, 's'));
    EXPECT_EQ(signature.Attach, 1);
    for (const std::string& name : test::ListDir(dir.Path()))
        EXPECT_NE(name[0], '.') << name;
}

class TableOpsTest : public ::testing::Test {
protected:
    Directory dir;
    void Add(const std::string& name, int company = 0) { AddSubscriber(dir, MakeSubscriber(name, company)); }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (int i = 0; i < UsedSubscriberSlots(dir); ++i)
            names.push_back(GetText(dir.subscribers[i].Name));
        return names;
    }
    // Names from a few letters in mixed case, so that many compare equal without regard to case.
    static std::string RandomName(std::mt19937& random) {
        std::string name(1 + random() % 3, 'a');
        for (char& c : name)
            c = static_cast<char>((random() % 2 ? 'a' : 'A') + random() % 3);
        return name;
    }
};

// Random tables, some sorted before and then renamed or reversed: the order is by name without regard to case,
// equal names keep their order (the PIN holds the slot before the sort), and the result says whether the table was
// out of order. A group holding the same names sorts them the same way.
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
        std::set<std::string> pins;
        for (int k = 0; k < used; ++k) {
            const SubscriberRecord& r = dir.subscribers[k];
            pins.insert(GetText(r.PIN));
            if (k == 0)
                continue;
            const SubscriberRecord& before = dir.subscribers[k - 1];
            int order = CompareNamesNoCase(before.Name, r.Name);
            ASSERT_TRUE(order < 0 || (order == 0 && std::stoi(before.PIN) < std::stoi(r.PIN))) << k;
        }
        ASSERT_EQ(pins.size(), size_t(used));
        if (used <= kGroupMembers) {
            ASSERT_EQ(SortGroupMembers(dir.groups[1]), outOfOrder);
            for (int k = 0; k < used; ++k)
                ASSERT_EQ(GetText(dir.groups[1].Members[k]), GetText(dir.subscribers[k].Name)) << k;
        }
    }
}

// An empty slot among the used ones goes after them: sorted first, it would end the table and hide the rest.
TEST_F(TableOpsTest, EmptySlotsAmongTheUsedOnesSortLast) {
    int k = 0;
    for (const char* name : {"bob", "", "Ann", "", "ann"})
        dir.subscribers[k++] = MakeSubscriber(name, 0, std::string("pin ") + name);
    EXPECT_TRUE(SortSubscribers(dir));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Ann", "ann", "bob"}));
    EXPECT_TRUE(IsEmptyText(dir.subscribers[3].Name) && IsEmptyText(dir.subscribers[4].Name));
    GroupRecord& group = dir.groups[2];
    k = 0;
    for (const char* name : {"zed", "", "Amy"})
        SetText(group.Members[k++], name);
    EXPECT_TRUE(SortGroupMembers(group));
    EXPECT_EQ(GetText(group.Members[0]) + GetText(group.Members[1]) + GetText(group.Members[2]), "Amyzed");
}

// The name index finds what a scan of every slot finds, in the same order: member by member, and for one member
// every subscriber of that exact name in slot order; group entries and unknown names page nobody.
TEST_F(TableOpsTest, GroupExpansionMatchesTheScanOfEverySlot) {
    std::mt19937 random(77);
    for (int k = 0; k < 600; ++k)
        Add(RandomName(random), k % 5);
    for (int g = 0; g < 20; ++g) {
        std::vector<std::string> members;
        for (int m = 0; m < 1 + static_cast<int>(random() % kGroupMembers); ++m)
            members.push_back(m % 9 == 0 ? "Group 1" : RandomName(random));
        test::AddGroup(dir, "Group " + std::to_string(g), members);
    }
    Add("Broken", -5000);
    Add("Worst", INT32_MIN);
    SetText(dir.subscribers[10].Name, ""); // a hole: the expansion still looks at every slot
    for (int slot = 0; slot < 700; ++slot) {
        std::vector<int> found, scanned;
        ExpandEntry(dir, slot, [&](int s) { return found.push_back(s), true; });
        const SubscriberRecord& entry = dir.subscribers[slot];
        if (!entry.IsGroup()) {
            scanned = {slot};
        } else if (int group = GroupNumberOf(entry)) {
            for (int m = 0; m < kGroupMembers && !IsEmptyText(dir.groups[group].Members[m]); ++m)
                for (int s = 0; s < kSubscriberSlots; ++s)
                    if (!dir.subscribers[s].IsGroup() &&
                        GetText(dir.subscribers[s].Name) == dir.groups[group].Members[m])
                        scanned.push_back(s);
        }
        ASSERT_EQ(found, scanned) << slot; // "Broken" and "Worst" name no group slot: nobody
    }
}

TEST_F(TableOpsTest, AddDeleteAndGroupNumbersStayInsideTheTables) {
    for (int i = 0; i < kSubscriberSlots; ++i)
        SetText(dir.subscribers[i].Name, "S" + std::to_string(i));
    EXPECT_EQ(AddSubscriber(dir, MakeSubscriber("Extra", 0)), -1);
    EXPECT_EQ(GetText(dir.subscribers[kSubscriberSlots - 1].Name), "S1999");
    EXPECT_TRUE(DeleteSubscriberEntry(dir, kSubscriberSlots - 1));
    EXPECT_TRUE(IsEmptyText(dir.subscribers[kSubscriberSlots - 1].Name));
    EXPECT_FALSE(DeleteSubscriberEntry(dir, kSubscriberSlots));
    EXPECT_FALSE(DeleteSubscriberEntry(dir, -1));

    dir.Clear();
    EXPECT_EQ(AllocateGroupNumber(dir), 1);
    for (int g = 1; g < kGroupSlots; ++g)
        SetText(dir.groups[g].Members[0], "x");
    EXPECT_EQ(AllocateGroupNumber(dir), 0);
    SetText(dir.groups[150].Members[0], "");
    EXPECT_EQ(AllocateGroupNumber(dir), 150);
}

TEST_F(TableOpsTest, DeletingACompanyRenumbersEverySubscriber) {
    for (int c = 0; c < 10; ++c)
        dir.companies[c] = test::MakeCompany("C" + std::to_string(c));
    for (int company : {3, 4, 2, 9})
        Add("on" + std::to_string(company), company);
    test::AddGroup(dir, "grp", {"on3"});
    EXPECT_TRUE(DeleteCompany(dir, 3));
    EXPECT_EQ(GetText(dir.companies[3].Name), "C4");
    EXPECT_TRUE(IsEmptyText(dir.companies[99].Name));
    int k = 0;
    for (int company : {0, 3, 2, 8, -1}) // group entries are untouched
        EXPECT_EQ(dir.subscribers[k++].Company, company);
    EXPECT_FALSE(DeleteCompany(dir, 100));
}

} // namespace
} // namespace brimlow
