#include "directory/csv.h"
#include "directory/data_files.h"
#include "directory/directory.h"
#include "tests/support/test_console.h"

#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

namespace brimlow {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(RecordText, SetTextCutsToTheFieldAndStaysTerminated) {
    char field[5];
    SetText(field, "abcdefgh");
    EXPECT_EQ(GetText(field), "abcd");
    EXPECT_EQ(field[4], '\0');
    SetText(field, "x");
    EXPECT_EQ(std::string(field, 5), std::string("x\0\0\0\0", 5));
}

class DataFilesTest : public ::testing::Test {
protected:
    TempDir dir;
    Directory tables;
    ModemSettings modem{};
    Signature signature{};
    std::string File(const char* name) { return dir.File(name); }
    bool LoadAll() {
        return LoadDirectoryFiles(dir.Path(), tables, modem) && LoadCompanyFile(dir.Path(), tables) &&
               LoadSignatureFile(dir.Path(), signature);
    }
    bool SaveAll() {
        return SaveDirectoryFiles(dir.Path(), tables, modem) && SaveCompanyFile(dir.Path(), tables) &&
               SaveSignatureFile(dir.Path(), signature);
    }
};

// A fresh data directory: every file is created, the defaults fill the tables and survive the first save.
TEST_F(DataFilesTest, FreshDirectoryStartsWithDefaultsAndSavesWholeTables) {
    ASSERT_TRUE(LoadAll());
    EXPECT_EQ(GetText(modem.InitString), "ATE0M0");
    EXPECT_EQ(GetText(modem.DialPrefix), "ATDT");
    for (const CompanyRecord& c : tables.companies)
        ASSERT_TRUE(c.Socket == 444 && c.MaxChars == 300 && IsEmptyText(c.Name));
    struct stat st{};
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
    WriteFile(File(kCompanyFile), test::RecordBytes(test::MakeCompany("Metro", "snpp.example", 7777)));
    WriteFile(File(kModemFile), std::string("AT&F\0", 5));
    ASSERT_TRUE(LoadAll());
    EXPECT_EQ(GetText(tables.companies[0].Name), "Metro");
    EXPECT_EQ(tables.companies[0].Socket, 7777);
    EXPECT_EQ(tables.companies[1].Socket, 444);
    EXPECT_EQ(tables.companies[99].MaxChars, 300);
    EXPECT_EQ(GetText(modem.InitString), "AT&F");
    EXPECT_EQ(GetText(modem.DialPrefix), "ATDT");
}

TEST_F(DataFilesTest, SubscribersLoadUnlockedAndWithTabsAboveTwoOnTabZero) {
    std::string bytes;
    for (auto [tab, lock] : {std::pair{3, 0xFF}, {2, 7}, {100, 0}}) {
        SubscriberRecord r = test::MakeSubscriber("S" + std::to_string(tab), 1, "1", tab);
        r.LockByte = static_cast<uint8_t>(lock);
        bytes += test::RecordBytes(r);
    }
    WriteFile(File(kSubscriberFile), bytes);
    ASSERT_EQ(LoadDirectoryFiles(dir.Path(), tables, modem), 1);
    for (auto [slot, tab] : {std::pair{0, 0}, {1, 2}, {2, 0}}) {
        EXPECT_EQ(tables.subscribers[slot].Tab, tab) << slot;
        EXPECT_EQ(tables.subscribers[slot].LockByte, 0) << slot;
    }
}

TEST_F(DataFilesTest, EarlierGroupLayoutIsReadAndSavedInTheCurrentOne) {
    std::string old(kEarlierGroupFileSize, '\0');
    memcpy(old.data() + (3 * 20 + 19) * 81, "Desk Z", 6);
    memcpy(old.data() + (49 * 20 + 5) * 81, "Last", 4);
    WriteFile(File(kGroupFile), old);
    ASSERT_EQ(LoadDirectoryFiles(dir.Path(), tables, modem), 1);
    EXPECT_EQ(GetText(tables.groups[3].Members[19]), "Desk Z");
    EXPECT_TRUE(IsEmptyText(tables.groups[3].Members[20]));
    EXPECT_EQ(GetText(tables.groups[49].Members[5]), "Last");
    ASSERT_EQ(SaveDirectoryFiles(dir.Path(), tables, modem), 1);
    EXPECT_EQ(ReadFile(File(kGroupFile)).substr(3 * 16200 + 19 * 81, 7), std::string("Desk Z\0", 7));

    std::string bytes(kEarlierGroupFileSize + 1, '\0'); // one byte more is the current layout
    memcpy(bytes.data() + 16200 + 81, "Second", 6);
    WriteFile(File(kGroupFile), bytes);
    ASSERT_EQ(LoadDirectoryFiles(dir.Path(), tables, modem), 1);
    EXPECT_EQ(GetText(tables.groups[1].Members[1]), "Second");
}

TEST_F(DataFilesTest, MemberNamesAreCutAtTheMarkerByteWithTheBlanksBeforeIt) {
    std::string bytes(sizeof(GroupRecord) * 2, '\0');
    const char name[] = "Duty Desk  \xCCgarbage\xCC";
    memcpy(bytes.data() + 16200, name, sizeof name - 1);
    memcpy(bytes.data() + 16200 + 81,
           "\xCC"
           "x",
           2);
    WriteFile(File(kGroupFile), bytes);
    ASSERT_EQ(LoadDirectoryFiles(dir.Path(), tables, modem), 1);
    EXPECT_EQ(GetText(tables.groups[1].Members[0]), "Duty Desk");
    EXPECT_EQ(tables.groups[1].Members[0][19], '\0') << "every marker in the name is cut";
    EXPECT_TRUE(IsEmptyText(tables.groups[1].Members[1]));
}

TEST_F(DataFilesTest, MissingGroupFileStopsTheLoadAfterSubscribers) {
    ASSERT_EQ(mkdir(File(kGroupFile).c_str(), 0700), 0); // a folder cannot be opened as a file
    WriteFile(File(kSubscriberFile), test::RecordBytes(test::MakeSubscriber("Ann", 0)));
    EXPECT_EQ(LoadDirectoryFiles(dir.Path(), tables, modem), 0);
    EXPECT_EQ(GetText(tables.subscribers[0].Name), "Ann");
    EXPECT_EQ(GetText(modem.InitString), "ATE0M0");
}

TEST_F(DataFilesTest, SaveThenLoadRoundTripsEveryTableWithoutTemporaryFiles) {
    tables.companies[5] = test::MakeCompany("North", "10.0.0.1", 444);
    tables.subscribers[0] = test::MakeSubscriber("Ann", 5, "99", 1);
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
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

TEST_F(DataFilesTest, FailedSaveLeavesTheOldFileWhole) {
    std::string old = test::RecordBytes(test::MakeSubscriber("Ann", 0));
    WriteFile(File(kSubscriberFile), old);
    chmod(dir.Path().c_str(), 0500);
    bool writable = access(dir.Path().c_str(), W_OK) == 0; // root ignores the mode
    int result = SaveDirectoryFiles(dir.Path(), tables, modem);
    chmod(dir.Path().c_str(), 0700);
    if (writable)
        GTEST_SKIP() << "running with write access to every folder";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(File(kSubscriberFile)), old);
}

// The exchange sort the tables were kept in order by before: passes from the end toward the start, swapping
// neighbours, until a pass swaps nothing.
template <typename Item, typename NameOf> bool ExchangeSort(Item* items, int count, NameOf nameOf) {
    bool moved = false;
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (int j = count - 1; j > 0; --j)
            if (CompareNamesNoCase(nameOf(items[j - 1]), nameOf(items[j])) > 0) {
                std::swap(items[j - 1], items[j]);
                swapped = moved = true;
            }
    }
    return moved;
}

// The group expansion before the name index: every member against every slot.
std::vector<int> ExpandByScan(const Directory& dir, int slot) {
    if (!dir.subscribers[slot].IsGroup())
        return {slot};
    std::vector<int> found;
    const GroupRecord& group = dir.groups[GroupNumberOf(dir.subscribers[slot])];
    for (int m = 0; m < kGroupMembers && !IsEmptyText(group.Members[m]); ++m)
        for (int s = 0; s < kSubscriberSlots; ++s)
            if (!dir.subscribers[s].IsGroup() && GetText(dir.subscribers[s].Name) == GetText(group.Members[m]))
                found.push_back(s);
    return found;
}

class TableOpsTest : public ::testing::Test {
protected:
    Directory dir;
    void Add(const std::string& name, int company = 0) { AddSubscriber(dir, test::MakeSubscriber(name, company)); }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (int i = 0; i < UsedSubscriberSlots(dir); ++i)
            names.push_back(GetText(dir.subscribers[i].Name));
        return names;
    }
    std::vector<int> Expand(int slot) {
        std::vector<int> found;
        ExpandEntry(dir, slot, [&](int s) { return found.push_back(s), true; });
        return found;
    }
    // Names from a few letters in mixed case, so that many compare equal without regard to case.
    std::string RandomName(std::mt19937& random) {
        std::string name(1 + random() % 3, 'a');
        for (char& c : name)
            c = static_cast<char>((random() % 2 ? 'a' : 'A') + random() % 3);
        return name;
    }
};

// Random tables, sorted, reversed, with one entry renamed: the same order and the same moved flag as the exchange
// sort, for the subscriber table and for a group's members. Records with equal names keep their order (their
// PINs tell them apart).
TEST_F(TableOpsTest, SortsGiveTheExchangeSortsOrderAndMovedFlag) {
    std::mt19937 random(1312);
    auto expected = std::make_unique<Directory>();
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        int used = static_cast<int>(random() % (round < 297 ? 120 : kSubscriberSlots));
        dir.Clear();
        for (int k = 0; k < used; ++k) {
            dir.subscribers[k] = test::MakeSubscriber(RandomName(random), k % 7, std::to_string(k));
            SetText(dir.groups[1].Members[k % kGroupMembers], GetText(dir.subscribers[k].Name));
        }
        if (round % 3 == 1)
            SortSubscribers(dir);
        if (round % 3 == 1 && used > 0)
            SetText(dir.subscribers[random() % used].Name, RandomName(random));
        if (round % 5 == 2)
            std::reverse(dir.subscribers.begin(), dir.subscribers.begin() + used);
        *expected = dir;
        bool movedBefore = ExchangeSort(expected->subscribers.data(), used, [](auto& r) { return r.Name; });
        ASSERT_EQ(SortSubscribers(dir), movedBefore);
        ASSERT_EQ(memcmp(&dir.subscribers, &expected->subscribers, sizeof dir.subscribers), 0);
        bool membersMoved =
            ExchangeSort(expected->groups[1].Members, std::min(used, kGroupMembers), [](auto& name) { return name; });
        ASSERT_EQ(SortGroupMembers(dir.groups[1]), membersMoved);
        ASSERT_EQ(memcmp(&dir.groups[1], &expected->groups[1], sizeof(GroupRecord)), 0);
        ASSERT_FALSE(SortSubscribers(dir)) << "a sorted table moves nothing";
    }
}

// An empty slot among the used ones goes after them, where the exchange sort put it first and so hid the table.
TEST_F(TableOpsTest, EmptySlotsAmongTheUsedOnesSortLast) {
    int k = 0;
    for (const char* name : {"bob", "", "Ann", "", "ann"})
        dir.subscribers[k++] = test::MakeSubscriber(name, 0, std::string("pin ") + name);
    EXPECT_TRUE(SortSubscribers(dir));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Ann", "ann", "bob"}));
    EXPECT_TRUE(IsEmptyText(dir.subscribers[3].Name) && IsEmptyText(dir.subscribers[4].Name));

    GroupRecord& group = dir.groups[2];
    k = 0;
    for (const char* name : {"zed", "", "Amy"})
        SetText(group.Members[k++], name);
    EXPECT_TRUE(SortGroupMembers(group));
    EXPECT_EQ(GetText(group.Members[0]), "Amy");
    EXPECT_EQ(GetText(group.Members[1]), "zed");
    EXPECT_TRUE(IsEmptyText(group.Members[2]));
}

// The name index finds what the scan of every slot found, in the same order: member by member, and for one
// member every subscriber of that exact name in slot order; group entries and unknown names page nobody.
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
    AddSubscriber(dir, test::MakeSubscriber("Broken", -5000));
    AddSubscriber(dir, test::MakeSubscriber("Worst", INT32_MIN));
    SetText(dir.subscribers[10].Name, ""); // a hole: the expansion still looks at every slot
    for (int slot = 0; slot < 700; ++slot) {
        ASSERT_EQ(Expand(slot), ExpandByScan(dir, slot)) << slot;
        for (const char* name : {"Broken", "Worst"}) {
            if (GetText(dir.subscribers[slot].Name) == name) {
                EXPECT_TRUE(Expand(slot).empty()) << name;
            }
        }
    }
}

TEST_F(TableOpsTest, AddIntoAFullTableIsRefusedWithoutWritingPastIt) {
    for (int i = 0; i < kSubscriberSlots; ++i)
        SetText(dir.subscribers[i].Name, "S" + std::to_string(i));
    EXPECT_EQ(AddSubscriber(dir, test::MakeSubscriber("Extra", 0)), -1);
    EXPECT_EQ(GetText(dir.subscribers[kSubscriberSlots - 1].Name), "S1999");
}

TEST_F(TableOpsTest, DeleteCompactsAndDeletingAGroupEmptiesItsMembers) {
    Add("A");
    int group = test::AddGroup(dir, "B-group", {"A", "C"});
    Add("C");
    EXPECT_TRUE(DeleteSubscriberEntry(dir, 1));
    EXPECT_EQ(Names(), (std::vector<std::string>{"A", "C"}));
    EXPECT_TRUE(IsEmptyText(dir.groups[group].Members[0]));
    EXPECT_TRUE(IsEmptyText(dir.groups[group].Members[1]));
    EXPECT_TRUE(DeleteSubscriberEntry(dir, kSubscriberSlots - 1));
    EXPECT_FALSE(DeleteSubscriberEntry(dir, kSubscriberSlots));
    EXPECT_FALSE(DeleteSubscriberEntry(dir, -1));
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

TEST_F(TableOpsTest, GroupNumbersRunFromOneTo199) {
    EXPECT_EQ(AllocateGroupNumber(dir), 1);
    for (int g = 1; g < kGroupSlots; ++g)
        SetText(dir.groups[g].Members[0], "x");
    EXPECT_EQ(AllocateGroupNumber(dir), 0);
    SetText(dir.groups[150].Members[0], "");
    EXPECT_EQ(AllocateGroupNumber(dir), 150);
}

// The Group dialog's edits: a name into the first empty position up to 200, a position removed compactly.
TEST_F(TableOpsTest, GroupMembersAreAddedUpTo200AndRemovedCompactly) {
    GroupRecord& g = dir.groups[1];
    for (const char* name : {"ann", "Bob", "carl"})
        EXPECT_TRUE(AddGroupMember(g, name));
    RemoveGroupMember(g, 1);
    EXPECT_EQ(GetText(g.Members[1]), "carl");
    EXPECT_EQ(GetText(g.Members[2]), "");
    for (int m = 2; m < kGroupMembers; ++m)
        EXPECT_TRUE(AddGroupMember(g, "x"));
    EXPECT_FALSE(AddGroupMember(g, "one too many"));
    RemoveGroupMember(g, kGroupMembers - 1);
    EXPECT_TRUE(IsEmptyText(g.Members[kGroupMembers - 1]));
}

// The longest group line export can write comes back whole: 200 members of 80 characters.
TEST_F(TableOpsTest, AFullGroupOfLongNamesRoundTripsThroughExportAndImport) {
    std::vector<std::string> members;
    for (int m = 0; m < kGroupMembers; ++m)
        members.push_back(std::to_string(1000 + m) + std::string(kMemberNameSize - 5, 'n'));
    int group = test::AddGroup(dir, "Everyone", members);
    TempDir files;
    CsvPaths paths{files.File("c.brw"), files.File("s.brw"), files.File("g.brw")};
    ASSERT_TRUE(ExportDirectory(dir, paths).error.empty());
    auto imported = Directory::Create();
    CsvResult result = ImportDirectory(*imported, paths);
    ASSERT_TRUE(result.error.empty());
    EXPECT_EQ(result.counts.groups, 1);
    EXPECT_EQ(memcmp(&imported->groups[group], &dir.groups[group], sizeof(GroupRecord)), 0);
}

} // namespace
} // namespace brimlow
