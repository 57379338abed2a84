#include "network/operators.h"
#include "tests/support/test_console.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace brimlow {
namespace {

class OperatorsTest : public ::testing::Test {
protected:
    test::TempDir dir;
    OperatorTable table;
};

// 100 records of 64 bytes: name and password in 31 bytes each, then the level as a little-endian int16.
TEST_F(OperatorsTest, TheFileIsTheTableByteForByte) {
    table.Set(0, "ann", "secret", kReadWriteDelete);
    table.Set(1, "bob", "pw", kReadWrite);
    ASSERT_EQ(table.SaveOperators(dir.Path()), 1);
    std::string expected(6400, '\0');
    expected.replace(0, 3, "ann").replace(31, 6, "secret").replace(64, 3, "bob").replace(95, 2, "pw");
    expected[62] = 2;
    expected[126] = 1;
    EXPECT_EQ(test::ReadFile(dir.File("Operators.dat")), expected);
}

// A missing file is created for the owner only; a damaged one gives what it holds, an unknown level read-only.
TEST_F(OperatorsTest, LoadingCreatesMissingFilesAndToleratesDamagedOnes) {
    table.Set(0, "stale", "x", 1); // zeroed by the load
    ASSERT_EQ(table.LoadOperators(dir.Path()), 1);
    EXPECT_FALSE(table.HasAccounts());
    struct stat st;
    ASSERT_EQ(stat(dir.File("Operators.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string bytes(64, 'n'); // record 0 with a level of 12, record 1 cut short
    bytes.replace(31, 3, std::string("pw\0", 3)).replace(62, 2, std::string("\x0c\x00", 2)).append(36, 'n');
    test::WriteFile(dir.File("Operators.dat"), bytes);
    ASSERT_EQ(table.LoadOperators(dir.Path()), 1);
    EXPECT_EQ(std::string(table.Get(0).Name), std::string(30, 'n'));
    EXPECT_EQ(std::string(table.Get(1).Name), std::string(30, 'n'));
    EXPECT_EQ(table.Authenticate(std::string(30, 'n'), "pw"), std::optional<int16_t>(kReadOnly));
    ASSERT_EQ(unlink(dir.File("Operators.dat").c_str()), 0);
    ASSERT_EQ(mkdir(dir.File("Operators.dat").c_str(), 0700), 0);
    EXPECT_EQ(table.LoadOperators(dir.Path()), 0);
    EXPECT_FALSE(table.HasAccounts());
    EXPECT_EQ(table.SaveOperators(dir.Path()), 0);
}

// Logins without case, with the level of the account that matched, empty only while no account exists; a delete
// frees the last record (the Clients dialog's test deletes and sorts among a few).
TEST_F(OperatorsTest, AuthenticateAndDelete) {
    EXPECT_EQ(table.Authenticate("", ""), std::optional<int16_t>(kReadOnly));
    EXPECT_EQ(table.Authenticate("ann", ""), std::nullopt);
    table.Set(0, "Ann", "one", kReadWriteDelete);
    table.Set(1, "ann", "two", kReadOnly);
    EXPECT_EQ(table.Authenticate("ANN", "two"), std::optional<int16_t>(kReadOnly));
    EXPECT_EQ(table.Authenticate("ann", "ONE"), std::optional<int16_t>(kReadWriteDelete));
    EXPECT_EQ(table.Authenticate("ann", "three"), std::nullopt);
    EXPECT_EQ(table.Authenticate("", ""), std::nullopt);
    table.Set(0, "x", "y", 7); // a level outside the three choices keeps the record's level
    EXPECT_EQ(table.Get(0).Level, kReadWriteDelete);
    for (int k = 0; k < kOperatorSlots; ++k) // a delete frees the last record of a full table
        table.Set(k, "op" + std::to_string(k), "pw", 0);
    EXPECT_TRUE(table.DeleteOperator(3));
    EXPECT_EQ(table.FirstFreeOperator(), kOperatorSlots - 1);
}

} // namespace
} // namespace brimlow
