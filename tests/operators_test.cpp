#include "network/operators.h"
#include "tests/support/test_console.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace brimlow {
namespace {

class OperatorsTest : public ::testing::Test {
protected:
    void Fill(int n) {
        for (int k = 0; k < n; ++k)
            table.Set(k, "op" + std::to_string(k), "pw" + std::to_string(k), k % 3);
    }
    test::TempDir dir;
    OperatorTable table;
};

TEST_F(OperatorsTest, TheFileIsTheTableByteForByte) {
    table.Set(0, "ann", "secret", kReadWriteDelete);
    table.Set(1, "bob", "pw", kReadWrite);
    ASSERT_EQ(table.SaveOperators(dir.Path()), 1);
    std::string bytes = test::ReadFile(dir.File("Operators.dat"));
    ASSERT_EQ(bytes.size(), 6400u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("ann\0", 4));
    EXPECT_EQ(bytes.substr(31, 7), std::string("secret\0", 7));
    EXPECT_EQ(bytes.substr(62, 2), std::string("\x02\x00", 2));
    EXPECT_EQ(bytes.substr(64, 3), "bob");
    EXPECT_EQ(bytes.substr(126, 2), std::string("\x01\x00", 2));
    EXPECT_EQ(bytes.substr(128), std::string(6400 - 128, '\0'));

    OperatorTable loaded;
    ASSERT_EQ(loaded.LoadOperators(dir.Path()), 1);
    EXPECT_STREQ(loaded.Get(0).Password, "secret");
    EXPECT_EQ(loaded.Get(1).Level, 1);
}

TEST_F(OperatorsTest, LoadingCreatesAMissingFileAndToleratesShortAndUnterminatedOnes) {
    table.Set(0, "stale", "x", 1);
    ASSERT_EQ(table.LoadOperators(dir.Path()), 1);
    EXPECT_FALSE(table.HasAccounts());
    struct stat st;
    ASSERT_EQ(stat(dir.File("Operators.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // 100 bytes: record 0 whole, a name filled to its last byte, record 1 cut short.
    std::string bytes(100, 'n');
    bytes.replace(31, 3, std::string("pw\0", 3));
    bytes[62] = 1;
    bytes[63] = 0;
    test::WriteFile(dir.File("Operators.dat"), bytes);
    ASSERT_EQ(table.LoadOperators(dir.Path()), 1);
    EXPECT_EQ(std::string(table.Get(0).Name), std::string(30, 'n'));
    EXPECT_EQ(table.Get(0).Level, 1);
    EXPECT_EQ(std::string(table.Get(1).Name), std::string(30, 'n'));
    EXPECT_EQ(table.Get(2).Name[0], '\0');
}

TEST_F(OperatorsTest, AFileThatCannotBeOpenedLeavesTheTableEmpty) {
    table.Set(0, "ann", "pw", 2);
    ASSERT_EQ(mkdir(dir.File("Operators.dat").c_str(), 0700), 0);
    EXPECT_EQ(table.LoadOperators(dir.Path()), 0);
    EXPECT_FALSE(table.HasAccounts());
    EXPECT_EQ(table.SaveOperators(dir.Path()), 0);
}

// Names and passwords match without case; the login takes the level of the account that matched, not of the
// first of the same name; free records match only while no account exists.
TEST_F(OperatorsTest, FindLevelAndAuthenticate) {
    EXPECT_EQ(table.Authenticate("", ""), std::optional<int16_t>(kReadOnly));
    EXPECT_EQ(table.Authenticate("ann", ""), std::nullopt);
    table.Set(0, "Ann", "one", kReadWriteDelete);
    table.Set(1, "ann", "two", kReadOnly);
    EXPECT_EQ(table.FindOperator("ANN", "ONE"), 1);
    EXPECT_EQ(table.FindOperator("ANN", "two"), 1);
    EXPECT_EQ(table.FindOperator("ANN", "three"), 0);
    EXPECT_EQ(table.FindOperator("", ""), 0);
    EXPECT_EQ(table.OperatorLevel("ANN"), kReadWriteDelete);
    EXPECT_EQ(table.OperatorLevel("nobody"), 0);
    EXPECT_EQ(table.Authenticate("ANN", "two"), std::optional<int16_t>(kReadOnly));
    EXPECT_EQ(table.Authenticate("ann", "one"), std::optional<int16_t>(kReadWriteDelete));
    EXPECT_EQ(table.Authenticate("", ""), std::nullopt);
}

TEST_F(OperatorsTest, ThirtyCharacterFieldsAreKeptWhole) {
    std::string password(30, 'p');
    table.Set(0, std::string(40, 'u'), password + "extra", kReadWrite);
    EXPECT_EQ(std::string(table.Get(0).Name), std::string(30, 'u'));
    EXPECT_EQ(std::string(table.Get(0).Password), password);
    EXPECT_TRUE(table.Authenticate(std::string(30, 'u'), password));
    // A level outside the three choices keeps the record's level.
    table.Set(0, "x", "y", 7);
    EXPECT_EQ(table.Get(0).Level, kReadWrite);
    EXPECT_FALSE(table.Set(100, "x", "y", 0));
}

TEST_F(OperatorsTest, DeleteMovesTheLaterRecordsUp) {
    Fill(10);
    EXPECT_TRUE(table.DeleteOperator(3));
    for (int k = 0; k < 9; ++k)
        EXPECT_STREQ(table.Get(k).Name, ("op" + std::to_string(k < 3 ? k : k + 1)).c_str()) << k;
    EXPECT_EQ(table.Get(9).Name[0], '\0');
    EXPECT_EQ(table.FirstFreeOperator(), 9);

    Fill(100);
    EXPECT_EQ(table.FirstFreeOperator(), -1);
    EXPECT_TRUE(table.DeleteOperator(99));
    OperatorRecord last = table.Get(99);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&last), sizeof last), std::string(64, '\0'));
    EXPECT_FALSE(table.DeleteOperator(100));
    EXPECT_FALSE(table.DeleteOperator(-1));
}

TEST_F(OperatorsTest, SortOrdersTheLeadingUsedRecordsWithoutCase) {
    table.Set(0, "carl", "c", 0);
    table.Set(1, "Bob", "b", 1);
    table.Set(2, "ann", "a", 2);
    table.Set(4, "aaron", "z", 0); // after the first free record: left where it is
    table.SortOperators();
    EXPECT_STREQ(table.Get(0).Name, "ann");
    EXPECT_STREQ(table.Get(1).Name, "Bob");
    EXPECT_STREQ(table.Get(2).Name, "carl");
    EXPECT_STREQ(table.Get(4).Name, "aaron");
    EXPECT_EQ(table.Get(0).Level, 2);
}

TEST(SecurityLevelNames, AreTheDialogTexts) {
    EXPECT_STREQ(SecurityLevelName(0), "Read only");
    EXPECT_STREQ(SecurityLevelName(1), "Read / Write");
    EXPECT_STREQ(SecurityLevelName(2), "Read / Write / Delete");
}

} // namespace
} // namespace brimlow
