#include "directory/data_files.h"
#include "directory/directory.h"
#include "tests/support/test_console.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace brimlow {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// The file layouts byte for byte: a record written into a table shows its fields at the documented offsets.
TEST(RecordLayout, SubscriberFieldsSitAtTheirOffsets) {
    SubscriberRecord r{};
    SetText(r.Name, "Ann");
    r.Tab = 2;
    SetText(r.Email, "ann@example.org");
    SetText(r.PIN, "5551234");
    r.Company = -7;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&r);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 3), "Ann");
    EXPECT_EQ(bytes[80], 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 430)), "ann@example.org");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 511)), "5551234");
    EXPECT_EQ(bytes[532], 0xF9);
    EXPECT_EQ(bytes[535], 0xFF);
}

TEST(RecordLayout, CompanyFieldsSitAtTheirOffsets) {
    CompanyRecord c{};
    c.Port = 3;
    c.Socket = 444;
    c.Baud = 38400;
    c.MaxChars = 300;
    c.TwoWay = 1;
    const auto* b = reinterpret_cast<const unsigned char*>(&c);
    EXPECT_EQ(b[162], 3);
    EXPECT_EQ(b[164] | b[165] << 8, 444);
    EXPECT_EQ(b[248] | b[249] << 8, 38400);
    EXPECT_EQ(b[254] | b[255] << 8, 300);
    EXPECT_EQ(b[258], 1);
}

TEST(RecordText, SetTextCutsToTheFieldAndStaysTerminated) {
    char field[5];
    SetText(field, "abcdefgh");
    EXPECT_EQ(GetText(field), "abcd");
    EXPECT_EQ(field[4], '\0');
    SetText(field, "x");
    EXPECT_EQ(field[1], '\0');
    EXPECT_EQ(field[3], '\0');
}

class DataFilesTest : public ::testing::Test {
protected:
    TempDir dir;
    Directory tables;
    ModemSettings modem{};
    Signature signature{};
    std::string File(const char* name) { return dir.File(name); }
};

TEST_F(DataFilesTest, FreshDirectoryStartsWithDefaultsAndCreatesEveryFile) {
    EXPECT_EQ(LoadDirectoryFiles(dir.Path(), tables, modem), 1);
    EXPECT_EQ(LoadCompanyFile(dir.Path(), tables), 1);
    EXPECT_EQ(LoadSignatureFile(dir.Path(), signature), 1);
    // An empty MODEM.DAT gives the default strings; the defaults survive a save.
    EXPECT_EQ(GetText(modem.InitString), "ATE0M0");
    EXPECT_EQ(GetText(modem.DialPrefix), "ATDT");
    for (const CompanyRecord& c : tables.companies) {
        EXPECT_EQ(c.Socket, 444);
        EXPECT_EQ(c.MaxChars, 300);
        EXPECT_TRUE(IsEmptyText(c.Name));
    }
    for (const char* name : {kCompanyFile, kSubscriberFile, kGroupFile, kModemFile, kSignatureFile})
        EXPECT_TRUE(test::FileExists(File(name))) << name;
    struct stat st{};
    EXPECT_EQ(stat(File(kTrackingFolder).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));

    ASSERT_EQ(SaveDirectoryFiles(dir.Path(), tables, modem), 1);
    ASSERT_EQ(SaveCompanyFile(dir.Path(), tables), 1);
    ASSERT_EQ(SaveSignatureFile(dir.Path(), signature), 1);
    EXPECT_EQ(ReadFile(File(kCompanyFile)).size(), 75800u);
    EXPECT_EQ(ReadFile(File(kSubscriberFile)).size(), 1072000u);
    EXPECT_EQ(ReadFile(File(kGroupFile)).size(), 3240000u);
    std::string modemBytes = ReadFile(File(kModemFile));
    ASSERT_EQ(modemBytes.size(), 112u);
    EXPECT_EQ(modemBytes.substr(0, 7), std::string("ATE0M0\0", 7));
    EXPECT_EQ(modemBytes.substr(81, 5), std::string("ATDT\0", 5));
    EXPECT_EQ(ReadFile(File(kSignatureFile)).size(), 104u);
}

TEST_F(DataFilesTest, ShortFilesFillOnlyWhatTheyCoverAndTheRestKeepsItsDefaults) {
    CompanyRecord first = test::MakeCompany("Metro", "snpp.example", 7777);
    WriteFile(File(kCompanyFile), test::RecordBytes(first));
    WriteFile(File(kModemFile), std::string("AT&F\0", 5));
    ASSERT_EQ(LoadCompanyFile(dir.Path(), tables), 1);
    ASSERT_EQ(LoadDirectoryFiles(dir.Path(), tables, modem), 1);
    EXPECT_EQ(GetText(tables.companies[0].Name), "Metro");
    EXPECT_EQ(tables.companies[0].Socket, 7777);
    EXPECT_EQ(tables.companies[1].Socket, 444);
    EXPECT_EQ(tables.companies[99].MaxChars, 300);
    EXPECT_EQ(GetText(modem.InitString), "AT&F");
    EXPECT_EQ(GetText(modem.DialPrefix), "ATDT");
}

TEST_F(DataFilesTest, SubscribersLoadUnlockedAndWithTabsAboveTwoOnTabZero) {
    std::string bytes(sizeof(SubscriberRecord) * 3, '\0');
    auto* records = reinterpret_cast<SubscriberRecord*>(bytes.data());
    records[0] = test::MakeSubscriber("Ann", 1, "1", 3);
    records[0].LockByte = 0xFF;
    records[1] = test::MakeSubscriber("Bob", 1, "2", 2);
    records[1].LockByte = 7;
    records[2] = test::MakeSubscriber("Cy", 1, "3", 100);
    WriteFile(File(kSubscriberFile), bytes);
    ASSERT_EQ(LoadDirectoryFiles(dir.Path(), tables, modem), 1);
    EXPECT_EQ(tables.subscribers[0].Tab, 0);
    EXPECT_EQ(tables.subscribers[1].Tab, 2);
    EXPECT_EQ(tables.subscribers[2].Tab, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(tables.subscribers[i].LockByte, 0);
    EXPECT_TRUE(IsEmptyText(tables.subscribers[3].Name));
}

TEST_F(DataFilesTest, EarlierGroupLayoutIsReadAndSavedInTheCurrentOne) {
    std::string old(kEarlierGroupFileSize, '\0');
    memcpy(old.data() + (3 * 20 + 0) * 81, "Desk A", 6);
    memcpy(old.data() + (3 * 20 + 19) * 81, "Desk Z", 6);
    memcpy(old.data() + (49 * 20 + 5) * 81, "Last", 4);
    WriteFile(File(kGroupFile), old);
    ASSERT_EQ(LoadDirectoryFiles(dir.Path(), tables, modem), 1);
    EXPECT_EQ(GetText(tables.groups[3].Members[0]), "Desk A");
    EXPECT_EQ(GetText(tables.groups[3].Members[19]), "Desk Z");
    EXPECT_TRUE(IsEmptyText(tables.groups[3].Members[20]));
    EXPECT_EQ(GetText(tables.groups[49].Members[5]), "Last");
    ASSERT_EQ(SaveDirectoryFiles(dir.Path(), tables, modem), 1);
    std::string saved = ReadFile(File(kGroupFile));
    ASSERT_EQ(saved.size(), 3240000u);
    EXPECT_EQ(saved.substr(3 * 16200 + 19 * 81, 6), "Desk Z");

    // One byte more is the current layout.
    std::string bytes(kEarlierGroupFileSize + 1, '\0');
    memcpy(bytes.data() + 16200 + 81, "Second", 6); // group 1, member 1 in the current layout
    WriteFile(File(kGroupFile), bytes);
    ASSERT_EQ(LoadDirectoryFiles(dir.Path(), tables, modem), 1);
    EXPECT_EQ(GetText(tables.groups[1].Members[1]), "Second");
}

TEST_F(DataFilesTest, MemberNamesAreCutAtTheMarkerByteWithTheBlanksBeforeIt) {
    std::string bytes(sizeof(GroupRecord) * 2, '\0');
    const char name[] = "Duty Desk  \xCCgarbage\xCC";
    memcpy(bytes.data() + 16200, name, sizeof name - 1);
    memcpy(bytes.data() + 16200 + 81, "\xCC" "x", 2);
    WriteFile(File(kGroupFile), bytes);
    ASSERT_EQ(LoadDirectoryFiles(dir.Path(), tables, modem), 1);
    EXPECT_EQ(GetText(tables.groups[1].Members[0]), "Duty Desk");
    EXPECT_EQ(tables.groups[1].Members[0][9], '\0');
    EXPECT_EQ(tables.groups[1].Members[0][19], '\0') << "every marker in the name is cut";
    EXPECT_TRUE(IsEmptyText(tables.groups[1].Members[1]));
}

TEST_F(DataFilesTest, MissingGroupFileStopsTheLoadAfterSubscribers) {
    ASSERT_EQ(mkdir(File(kGroupFile).c_str(), 0700), 0); // a folder cannot be opened as a file
    SubscriberRecord ann = test::MakeSubscriber("Ann", 0);
    WriteFile(File(kSubscriberFile), test::RecordBytes(ann));
    EXPECT_EQ(LoadDirectoryFiles(dir.Path(), tables, modem), 0);
    EXPECT_EQ(GetText(tables.subscribers[0].Name), "Ann");
    EXPECT_EQ(GetText(modem.InitString), "ATE0M0");
}

TEST_F(DataFilesTest, SaveThenLoadRoundTripsEveryTable) {
    tables.companies[5] = test::MakeCompany("North", "10.0.0.1", 444);
    tables.companies[5].TwoWay = 1;
    tables.subscribers[0] = test::MakeSubscriber("Ann", 5, "99", 1);
    tables.subscribers[0].LockByte = 0xFF;
    SetText(tables.groups[2].Members[199], "Bob");
    SetText(modem.InitString, "ATZ");
    SetText(signature.Text, std::string(100, 's'));
    signature.Attach = 1;
    ASSERT_EQ(SaveDirectoryFiles(dir.Path(), tables, modem), 1);
    ASSERT_EQ(SaveCompanyFile(dir.Path(), tables), 1);
    ASSERT_EQ(SaveSignatureFile(dir.Path(), signature), 1);
    EXPECT_EQ(tables.subscribers[0].LockByte, 0) << "a save clears the lock bytes";

    auto owned = Directory::Create();
    Directory& loaded = *owned;
    ModemSettings loadedModem{};
    Signature loadedSignature{};
    LoadDirectoryFiles(dir.Path(), loaded, loadedModem);
    LoadCompanyFile(dir.Path(), loaded);
    LoadSignatureFile(dir.Path(), loadedSignature);
    EXPECT_EQ(memcmp(&loaded.companies, &tables.companies, sizeof tables.companies), 0);
    EXPECT_EQ(memcmp(&loaded.subscribers, &tables.subscribers, sizeof tables.subscribers), 0);
    EXPECT_EQ(memcmp(&loaded.groups, &tables.groups, sizeof tables.groups), 0);
    EXPECT_EQ(GetText(loadedModem.InitString), "ATZ");
    EXPECT_EQ(std::string(loadedSignature.Text), std::string(100, 's'));
    EXPECT_EQ(loadedSignature.Attach, 1);
    // No temporary file stays behind.
    for (const std::string& name : test::ListDir(dir.Path()))
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

TEST_F(DataFilesTest, FailedSaveLeavesTheOldFileWhole) {
    SubscriberRecord ann = test::MakeSubscriber("Ann", 0);
    std::string old = test::RecordBytes(ann);
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
};

TEST_F(TableOpsTest, SortIsCaseInsensitiveAndStable) {
    Add("bob");
    Add("Ann", 1);
    Add("ann", 2);
    Add("Carl");
    Add("ANN", 3);
    EXPECT_TRUE(SortSubscribers(dir));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Ann", "ann", "ANN", "bob", "Carl"}));
    EXPECT_EQ(dir.subscribers[0].Company, 1);
    EXPECT_EQ(dir.subscribers[1].Company, 2);
    EXPECT_EQ(dir.subscribers[2].Company, 3);
    EXPECT_FALSE(SortSubscribers(dir)) << "a sorted table moves nothing";
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
    ASSERT_EQ(GetText(dir.subscribers[1].Name), "B-group");
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
    Add("on3", 3);
    Add("on4", 4);
    Add("on2", 2);
    Add("on9", 9);
    test::AddGroup(dir, "grp", {"on3"});
    EXPECT_TRUE(DeleteCompany(dir, 3));
    EXPECT_EQ(GetText(dir.companies[3].Name), "C4");
    EXPECT_TRUE(IsEmptyText(dir.companies[99].Name));
    EXPECT_EQ(dir.subscribers[0].Company, 0);
    EXPECT_EQ(dir.subscribers[1].Company, 3);
    EXPECT_EQ(dir.subscribers[2].Company, 2);
    EXPECT_EQ(dir.subscribers[3].Company, 8);
    EXPECT_EQ(dir.subscribers[4].Company, -1) << "group entries are untouched";
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

// The Group dialog's list: sorted without regard to case with empty names last, filled to 200, removed compactly.
TEST_F(TableOpsTest, GroupMembersSortAddAndRemove) {
    GroupRecord& g = dir.groups[1];
    for (const char* name : {"carl", "Bob", "ann"})
        AddGroupMember(g, name);
    SetText(g.Members[5], "Abe"); // holes at 3 and 4, as an old file may hold them
    SortGroupMembers(g);
    std::vector<std::string> names;
    for (auto& m : g.Members)
        names.push_back(GetText(m));
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 6),
              (std::vector<std::string>{"Abe", "ann", "Bob", "carl", "", ""}));
    RemoveGroupMember(g, 1);
    EXPECT_EQ(GetText(g.Members[1]), "Bob");
    EXPECT_EQ(GetText(g.Members[3]), "");
    for (int m = 3; m < kGroupMembers; ++m)
        EXPECT_TRUE(AddGroupMember(g, "x"));
    EXPECT_FALSE(AddGroupMember(g, "one too many"));
    RemoveGroupMember(g, kGroupMembers - 1);
    EXPECT_TRUE(IsEmptyText(g.Members[kGroupMembers - 1]));
}

// Members match subscriber names exactly, over all the group's slots; a group is never a member of another, and an
// entry whose number names no group expands to nobody.
TEST_F(TableOpsTest, GroupExpansionMatchesNamesExactlyOverEverySlot) {
    Add("Desk A", 1);
    Add("Desk A", 2);
    Add("desk b", 3);
    Add("Desk B", 4);
    int inner = test::AddGroup(dir, "Inner", {"Desk A"});
    int group = test::AddGroup(dir, "Desks", {"Desk A", "Inner", "Desk B"});
    SetText(dir.groups[group].Members[3], "after the end");
    AddSubscriber(dir, test::MakeSubscriber("Broken", -5000));
    AddSubscriber(dir, test::MakeSubscriber("Worst", INT32_MIN));
    auto companies = [&](int entry) {
        std::vector<int> found;
        ExpandEntry(dir, entry, [&](int slot) { return found.push_back(dir.subscribers[slot].Company), true; });
        return found;
    };
    int used = UsedSubscriberSlots(dir);
    EXPECT_EQ(companies(used - 3), (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(dir.subscribers[used - 4].Company, -inner);
    EXPECT_TRUE(companies(used - 2).empty());
    EXPECT_TRUE(companies(used - 1).empty());
}

} // namespace
} // namespace brimlow
