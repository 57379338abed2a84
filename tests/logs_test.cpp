// The logs and the status channel between worker threads and the window.
#include "queue/logs.h"
#include "queue/status.h"
#include "tests/support/fake_clock.h"
#include "tests/support/test_console.h"

#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace brimlow {
namespace {

// The stamp is padded as the logs always were (the other logs' names are the LAN and status tests').
TEST(LogEntry, StampsArePaddedAndAnUnwritableLogIsLostSilently) {
    struct tm march {};
    march.tm_year = 102, march.tm_mon = 2, march.tm_mday = 7, march.tm_hour = 9, march.tm_min = 5;
    EXPECT_EQ(FormatLogEntry(march, "x"), " 3/07/02  9:05 x\r\n");
    struct tm eve {};
    eve.tm_year = 105, eve.tm_mon = 11, eve.tm_mday = 31, eve.tm_hour = 23, eve.tm_min = 59, eve.tm_isdst = -1;
    test::FakeClock clock(mktime(&eve));
    test::TestConsole t(false);
    t.console.clock = &clock;
    EXPECT_EQ(WriteMessageLog(t.console, "Duty Desk Msg: call in\n"), 1);
    EXPECT_EQ(test::ReadFile(t.DataFile("Messages.LOG")), "12/31/05 23:59 Duty Desk Msg: call in\r\n\r\n");
    t.console.dataDir = t.dir.File("missing-folder");
    EXPECT_EQ(WriteStatusLog(t.console, "lost"), 0);
}

// The one-line mailbox makes posters wait; nothing lost or torn; the screen gets 1,999 bytes, the log all.
TEST(PostStatus, PostersWaitForTheMailboxAndNeverLoseOrTearALine) {
    test::TestConsole t(false);
    PostStatus(t.console, "first\r\nsecond");
    std::atomic<int> posted{0};
    std::vector<std::thread> posters;
    for (char p = 'a'; p < 'a' + 8; ++p)
        posters.emplace_back([&t, &posted, p] {
            for (int i = 0; i < 40; ++i, ++posted)
                PostStatus(t.console, std::to_string(i) + " " + std::string(100, p));
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(posted, 0) << "a poster must wait while the mailbox holds a line";
    EXPECT_EQ(TakeStatus(t.console).value_or(""), "first  second");
    std::vector<std::string> lines;
    for (int wait = 0; wait < 1000 && lines.size() < 320; ++wait)
        if (std::optional<std::string> line = WaitStatus(t.console, 10))
            lines.push_back(*line);
    for (std::thread& p : posters)
        p.join();
    ASSERT_EQ(lines.size(), 320u);
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size());
    std::string log = test::ReadFile(t.DataFile("MSNPP.LOG"));
    size_t pos = log.find("first  second\r\n");
    ASSERT_NE(pos, std::string::npos);
    for (const std::string& line : lines) {
        EXPECT_EQ(line.substr(line.size() - 100), std::string(100, line.back())) << "torn line: " << line;
        pos = log.find(line + "\r\n", pos);
        ASSERT_NE(pos, std::string::npos) << line;
    }
    PostStatus(t.console, std::string(2500, 'x'));
    EXPECT_EQ(TakeStatus(t.console).value_or(""), std::string(1999, 'x'));
    EXPECT_FALSE(TakeStatus(t.console).has_value());
    EXPECT_NE(test::ReadFile(t.DataFile("MSNPP.LOG")).find(std::string(2500, 'x') + "\r\n"), std::string::npos);
}

} // namespace
} // namespace brimlow
