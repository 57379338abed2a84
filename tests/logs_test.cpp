#include "queue/logs.h"
#include "queue/status.h"
#include "tests/support/fake_clock.h"
#include "tests/support/test_console.h"

#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace brimlow {
namespace {

time_t LocalTime(int year, int month, int day, int hour, int minute) {
    struct tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return mktime(&t);
}

// The time stamp is padded as the logs always were; line feeds become CR LF; an unwritable log is lost silently.
TEST(LogEntry, EachLogAppendsStampedEntriesToItsOwnFile) {
    struct tm march{};
    march.tm_year = 102, march.tm_mon = 2, march.tm_mday = 7, march.tm_hour = 9, march.tm_min = 5;
    EXPECT_EQ(FormatLogEntry(march, "x"), " 3/07/02  9:05 x\r\n");
    test::TestConsole t(false);
    test::FakeClock clock(LocalTime(2005, 12, 31, 23, 59));
    t.console.clock = &clock;
    EXPECT_EQ(WriteMessageLog(t.console, "Duty Desk Msg: call in\n"), 1);
    EXPECT_EQ(WriteNetworkLog(t.console, "Network connection aborted!"), 1);
    EXPECT_EQ(WriteStatusLog(t.console, "one"), 1);
    EXPECT_EQ(WriteStatusLog(t.console, "two"), 1);
    EXPECT_EQ(test::ReadFile(t.DataFile("Messages.LOG")), "12/31/05 23:59 Duty Desk Msg: call in\r\n\r\n");
    EXPECT_EQ(test::ReadFile(t.DataFile("Network.log")), "12/31/05 23:59 Network connection aborted!\r\n");
    EXPECT_EQ(test::ReadFile(t.DataFile("MSNPP.LOG")), "12/31/05 23:59 one\r\n12/31/05 23:59 two\r\n");
    t.console.dataDir = t.dir.File("missing-folder");
    EXPECT_EQ(WriteStatusLog(t.console, "lost"), 0);
    t.console.clock = &SystemClock::Instance();
}

TEST(FormatGrouped, GroupsOfThreeUpToEighteenDigits) {
    const std::pair<uint64_t, const char*> cases[] = {{0, "0"},
                                                      {999, "999"},
                                                      {1000, "1,000"},
                                                      {123456, "123,456"},
                                                      {999999999999999999ULL, "999,999,999,999,999,999"},
                                                      {1000000000000000000ULL, "ERROR"},
                                                      {UINT64_MAX, "ERROR"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(FormatGrouped(value), text) << value;
}

// The mailbox holds one line: a poster waits until its line is taken. The screen gets line breaks as blanks and at
// most 1,999 bytes; the log keeps the whole line.
TEST(PostStatus, APosterWaitsForTheMailboxAndTheLogKeepsTheWholeLine) {
    test::TestConsole t(false);
    std::atomic<int> posted{0};
    std::thread poster([&] {
        PostStatus(t.console, "first\r\nsecond");
        ++posted;
        PostStatus(t.console, std::string(2500, 'x'));
        ++posted;
    });
    while (posted == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(posted, 1) << "the second line must wait for the first to be taken";
    EXPECT_EQ(TakeStatus(t.console).value_or(""), "first  second");
    std::optional<std::string> second;
    while (!(second = WaitStatus(t.console, 50))) {
    }
    poster.join();
    EXPECT_EQ(*second, std::string(1999, 'x'));
    EXPECT_FALSE(TakeStatus(t.console).has_value());
    std::string log = test::ReadFile(t.DataFile("MSNPP.LOG"));
    EXPECT_NE(log.find("first  second\r\n"), std::string::npos);
    EXPECT_NE(log.find(std::string(2500, 'x') + "\r\n"), std::string::npos);
}

TEST(PostStatus, ConcurrentPostersNeverLoseOrTearALine) {
    test::TestConsole t;
    constexpr int kThreads = 8, kLines = 40;
    std::vector<std::thread> posters;
    for (int p = 0; p < kThreads; ++p)
        posters.emplace_back([&, p] {
            for (int i = 0; i < kLines; ++i)
                PostStatus(t.console, "poster " + std::to_string(p) + " line " + std::to_string(i) + " " +
                                          std::string(100, static_cast<char>('a' + p)));
        });
    for (std::thread& p : posters)
        p.join();
    ASSERT_TRUE(t.WaitForStatus("line " + std::to_string(kLines - 1)));
    // The drain may still hold the last lines; wait until every line arrived.
    for (int wait = 0; wait < 500 && t.StatusLines().size() < kThreads * kLines; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<std::string> lines = t.StatusLines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::set<std::string> unique(lines.begin(), lines.end());
    EXPECT_EQ(unique.size(), lines.size());
    for (const std::string& line : lines) {
        char c = line.back();
        EXPECT_EQ(line.substr(line.size() - 100), std::string(100, c)) << "torn line: " << line;
    }
    // The log holds the same lines in the same order as the screen.
    std::string log = test::ReadFile(t.DataFile("MSNPP.LOG"));
    size_t pos = 0;
    for (const std::string& line : lines) {
        pos = log.find(line + "\r\n", pos);
        ASSERT_NE(pos, std::string::npos) << line;
    }
}

} // namespace
} // namespace brimlow
