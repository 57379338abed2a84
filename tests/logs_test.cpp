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

TEST(LogEntry, TimeStampIsPaddedAsTheLogsAlwaysWereAndLineFeedsBecomeCrLf) {
    struct tm march{};
    march.tm_year = 102, march.tm_mon = 2, march.tm_mday = 7, march.tm_hour = 9, march.tm_min = 5;
    EXPECT_EQ(FormatLogEntry(march, "x"), " 3/07/02  9:05 x\r\n");
    struct tm december{};
    december.tm_year = 105, december.tm_mon = 11, december.tm_mday = 31, december.tm_hour = 23, december.tm_min = 59;
    EXPECT_EQ(FormatLogEntry(december, "Duty Desk Msg: hello\n"), "12/31/05 23:59 Duty Desk Msg: hello\r\n\r\n");
}

TEST(LogEntry, EachLogAppendsToItsOwnFileAndAnUnwritableOneIsLostSilently) {
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
    EXPECT_EQ(WriteStatusLog(t.console, "lost"), 0); // an unwritable log is lost silently
    t.console.clock = &SystemClock::Instance();
}

TEST(FormatGrouped, GroupsOfThreeUpToEighteenDigits) {
    EXPECT_EQ(FormatGrouped(0), "0");
    EXPECT_EQ(FormatGrouped(999), "999");
    EXPECT_EQ(FormatGrouped(1000), "1,000");
    EXPECT_EQ(FormatGrouped(1239), "1,239");
    EXPECT_EQ(FormatGrouped(123456), "123,456");
    EXPECT_EQ(FormatGrouped(12345678), "12,345,678");
    EXPECT_EQ(FormatGrouped(999999999999999999ULL), "999,999,999,999,999,999");
    EXPECT_EQ(FormatGrouped(1000000000000000000ULL), "ERROR");
    EXPECT_EQ(FormatGrouped(UINT64_MAX), "ERROR");
}

TEST(PostStatus, LineBreaksBecomeBlanksAndTheLogKeepsTheWholeLine) {
    test::TestConsole t(false);
    std::string longLine(2500, 'x');
    std::thread poster([&] {
        PostStatus(t.console, "first\r\nsecond");
        PostStatus(t.console, longLine);
    });
    std::optional<std::string> one, two;
    while (!(one = WaitStatus(t.console, 50))) {
    }
    while (!(two = WaitStatus(t.console, 50))) {
    }
    poster.join();
    EXPECT_EQ(*one, "first  second");
    EXPECT_EQ(two->size(), 1999u);
    std::string log = test::ReadFile(t.DataFile("MSNPP.LOG"));
    EXPECT_NE(log.find("first  second\r\n"), std::string::npos);
    EXPECT_NE(log.find(std::string(2500, 'x') + "\r\n"), std::string::npos);
    EXPECT_FALSE(TakeStatus(t.console).has_value());
}

TEST(PostStatus, APosterWaitsWhileTheMailboxIsFull) {
    test::TestConsole t(false);
    PostStatus(t.console, "held");
    std::atomic<bool> done{false};
    std::thread second([&] {
        PostStatus(t.console, "next");
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done) << "the second line must wait for the first to be taken";
    EXPECT_EQ(TakeStatus(t.console).value_or(""), "held");
    second.join();
    EXPECT_EQ(TakeStatus(t.console).value_or(""), "next");
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
