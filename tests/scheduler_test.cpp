// The queue scan and the headless loop, the send-queue worker and a provider's purge, the sound player.
#include "app/headless.h"
#include "app/qt_sound.h"
#include "app/queue_scan.h"
#include "app/send_queue_worker.h"
#include "queue/email_packet.h"
#include "queue/message_file.h"
#include "queue/purge.h"
#include "queue/status.h"
#include "tests/lan_raw_client.h"
#include "tests/snpp_simulator.h"
#include "tests/support/peer_process.h"
#include "tests/support/test_console.h"
#include "transports/smtp.h"

#include <QCoreApplication>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <sys/time.h>

namespace brimlow {
namespace {

using test::FileExists;
using test::ListDir;
using ::testing::AllOf;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using ::testing::StartsWith;

void Touch(const std::string& path) {
    test::WriteFile(path, std::string(kMessageFileSize, '\0'));
}

class QueueScanTest : public ::testing::Test {
protected:
    QueueScanTest() {
        // Every COM port is missing, so a dial run ends at once and names its port: COM n+1 for company n.
        tc.console.settings.Update([](Settings& s) {
            s.ComDevice.fill("/dev/brimlow-missing");
            s.ModemPort = 6;
        });
        for (int n = 0; n < kCompanySlots; ++n)
            tc.console.local->companies[n].Port = static_cast<int16_t>(n);
    }
    std::string D(const std::string& relative) const { return tc.dir.File(relative); }

    test::TestConsole tc{false};
};

// A scan dials the highest company folder with ready pages, before network queue entries (on the ModemPort). Held
// pages neither start nor steer a dial; an entry without its company file waits, one with an unsafe name is ignored.
TEST_F(QueueScanTest, EachScanCountsTheQueueAndDialsTheHighestReadyFolder) {
    struct Case {
        std::vector<std::string> files;
        int queue, pending;
        std::vector<std::string> lines;
    };
    const std::string longEntry = std::string(40, 'n');
    const std::vector<Case> cases = {
        {{"9/MSQAAAAA.AAA"}, 1, 0, {}},
        {{"9/MSQAAAAA.AAA", "2/MSGAAAAA.AAA"}, 2, 1, {"Failed to open port 3.  Status = -14"}},
        {{"9/MSGAAAAA.AAA", "2/MSGAAAAA.AAA"}, 2, 2, {"Failed to open port 10.  Status = -14"}},
        {{"3/MSGAAAAA.AAA", "Queue/north/5/MSGAAAAA.AAA"}, 2, 2, {"Failed to open port 4.  Status = -14"}},
        {{"Queue/north/5/MSGAAAAA.AAA", "EMGAAAAA.AAA"}, 2, 1, {"Failed to open port 7.  Status = -14"}},
        {{"Queue/south/1/MSGAAAAA.AAA", "Queue/" + longEntry + "/5/MSGAAAAA.AAA"}, 1, 1, {}},
    };
    int networkSteps = 0; // the window's tests see the scan's other steps
    tc.console.networkScanStep = [&] { ++networkSteps; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files.back());
        tc.console.networkBusy = !tc.console.networkBusy; // no network step while the client is still connecting
        for (const std::string& name : ListDir(tc.dir.Path()))
            std::filesystem::remove_all(D(name));
        for (const std::string& entry : {std::string("north"), longEntry})
            test::WriteQueueEntry(tc.dir.Path(), entry, 5, test::MakeCompany("Entry company"));
        for (const std::string& file : c.files) {
            std::filesystem::create_directories(std::filesystem::path(D(file)).parent_path());
            Touch(D(file));
        }
        std::vector<std::string> lines; // what the dial run posted: one run per scan
        ScanOutcome outcome = QueueScan(tc.console);
        ASSERT_TRUE(test::WaitFor(
            [&] {
                while (std::optional<std::string> line = TakeStatus(tc.console))
                    lines.push_back(*line);
                return tc.console.dialBusy.load() == 0;
            },
            20000));
        while (std::optional<std::string> line = WaitStatus(tc.console, 20))
            lines.push_back(*line);
        EXPECT_EQ(outcome.counts.queueCount, c.queue);
        EXPECT_EQ(outcome.counts.pendingModem, c.pending);
        EXPECT_EQ(outcome.dialStarted, !c.lines.empty());
        EXPECT_EQ(lines, c.lines);
    }
    EXPECT_TRUE(IsSafeQueueEntryName(std::string(31, 'n')));
    EXPECT_EQ(networkSteps, 3);
}

// Between scans the headless loop sleeps for the whole period: a status line, or the stop, wakes it at once.
TEST_F(QueueScanTest, TheHeadlessLoopSleepsUntilAScanIsDueOrSomethingWakesIt) {
    std::atomic<bool> stop{false}, sleeping{false};
    std::atomic<int> waits{0}, sleptToTheEnd{0}; // the waits, and the long ones that no wake-up ended
    std::thread loop([&] {
        RunHeadlessLoop(tc.console, stop, [&](int timeoutMs) {
            sleeping = timeoutMs > kStatusScanMs;
            bool woken = tc.console.wake.Wait(timeoutMs);
            ++waits;
            sleptToTheEnd += !woken && timeoutMs > kFirstScanMs;
        });
    });
    ASSERT_TRUE(test::WaitFor([&] { return sleeping.load(); }));
    PostStatus(tc.console, "line");
    EXPECT_TRUE(test::WaitFor([&] { return tc.op.ResultLines() == std::vector<std::string>{"line"}; }));
    stop = true;
    tc.console.wake.Notify();
    loop.join();
    EXPECT_LE(waits.load(), 4);
    EXPECT_EQ(sleptToTheEnd.load(), 0);
}

class SendQueueWorkerTest : public ::testing::Test {
protected:
    SendQueueWorkerTest() { tc.console.local->companies[0] = test::MakeCompany("Metro", "127.0.0.1", snpp.Port()); }
    std::string Page(const std::string& folder, const std::string& prefix, const std::string& pin, int company = 0) {
        return test::WritePage(tc.console, folder, prefix, test::MakeSubscriber("Desk " + pin, company, pin),
                               "page " + pin);
    }

    test::SnppSimulator snpp{test::SnppScript{}};
    test::TestConsole tc;
};

// Two workers send each page once and release held pages over none; unreadable and out-of-range pages stay unsent.
// A provider without a queue folder of its own (flag 0) purges the data directory's SNPP pages.
TEST_F(SendQueueWorkerTest, TwoWorkersSendEachPageOnceAndAPurgeTakesWhatIsLeft) {
    test::WriteFile(tc.dir.File("MSGAAAAA.AAA"), "short");
    mkdir(tc.dir.File("4").c_str(), 0700);
    test::WriteFile(tc.dir.File("4/MSGAAAAA.AAA"), "direct");
    test::WriteFile(tc.dir.File("4/MSQAAAAA.AAA"), "held");
    for (int i = 0; i < 24; ++i)
        Page(tc.dir.Path(), kReadyPrefix, std::to_string(1000 + i));
    for (int company : {250, -7})
        Page(tc.dir.Path(), kReadyPrefix, "9", company);
    for (int i = 0; i < 12; ++i)
        Page(tc.dir.File("4"), kHeldPrefix, "9", 4);
    StartSendQueueWorker(tc.console);
    StartSendQueueWorker(tc.console);
    ASSERT_TRUE(tc.console.workers.WaitIdle(60000));
    std::vector<std::string> messages = snpp.Messages();
    EXPECT_EQ(std::set<std::string>(messages.begin(), messages.end()).size(), 24u);
    EXPECT_EQ(tc.console.sentPages.load(), 24); // a page sent twice would count twice
    EXPECT_TRUE(FileExists(tc.dir.File("MSGAAAAA.AAA")));
    EXPECT_THAT(ListDir(tc.dir.File("4")), AllOf(SizeIs(14), Each(StartsWith(kReadyPrefix))));
    EXPECT_EQ(test::ReadFile(tc.dir.File("4/MSGAAAAA.AAA")), "direct");
    EXPECT_FALSE(ReleaseHeldPage(tc.console, tc.dir.File("4"), "MSQAAAAA.AAA")); // gone: taken already
    EXPECT_EQ(PurgeCompany(tc.console, 100) + PurgeCompany(tc.console, -1), 0);
    EXPECT_EQ(PurgeCompany(tc.console, 4), 1);
    EXPECT_THAT(ListDir(tc.dir.File("4")), SizeIs(14));
}

// A page failing for the moment waits for the next run, for a day: an SNPP page renamed, an e-mail packet as it is.
TEST_F(SendQueueWorkerTest, PagesFailingForTheMomentWaitForTheNextRunForADay) {
    std::string mail = tc.dir.File("mail");
    test::PeerProcess smtp(test::SmtpSinkCommand(mail, {"DATA=451 4.3.0 temporary failure", "refusals=1"}));
    ASSERT_GT(smtp.Port(), 0);
    setenv(kSmtpPortVariable, std::to_string(smtp.Port()).c_str(), 1);
    tc.console.settings.Update([](Settings& s) { s.OutboundMailServer = "127.0.0.1"; });
    test::SnppSimulator closing(
        test::With(&test::SnppScript::replies, std::map<std::string, std::string>{{"PAGE", "421 Too busy, closing"}}));
    auto runWorker = [&](int port) {
        tc.console.local->companies[0].Socket = static_cast<int16_t>(port);
        RunSendQueueWorker(tc.console);
        EXPECT_TRUE(tc.console.workers.WaitIdle(30000));
        std::vector<std::string> queued = ListDir(tc.dir.Path());
        std::erase_if(queued, [](const std::string& name) { return !name.starts_with(kReadyPrefix); });
        return queued;
    };
    auto writePage = [&](time_t when) {
        std::string path = Page(tc.dir.Path(), kReadyPrefix, "21");
        timeval times[2] = {{when, 0}, {when, 0}};
        utimes(path.c_str(), times);
        return path;
    };
    const time_t queuedAt = time(nullptr) - 3600;
    std::string first = writePage(queuedAt);
    test::FolderWatch watch({tc.dir.Path()});
    ASSERT_EQ(WriteEmailPacket(tc.console, test::MakeSubscriber("Desk E", 0), "", "Drill"), 1);
    for (const std::string& name : watch.Take().writtenAs) // a daemon could mail a packet's head without its text
        EXPECT_FALSE(name.starts_with(kEmailPrefix)) << name << " was written under its packet name";
    std::vector<std::string> queued = runWorker(closing.Port());
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_NE(tc.dir.File(queued[0]), first);
    struct stat st {};
    EXPECT_TRUE(stat(tc.dir.File(queued[0]).c_str(), &st) == 0 && st.st_mtime == queuedAt);
    EXPECT_TRUE(tc.WaitForStatus("Page for Desk 21 kept for a later try"));
    EXPECT_TRUE(FileExists(tc.dir.File("EMGAAAAA.AAA")));

    EXPECT_THAT(runWorker(snpp.Port()), IsEmpty());
    unsetenv(kSmtpPortVariable);
    EXPECT_THAT(snpp.Messages(), ElementsAre("page 21\n"));
    EXPECT_TRUE(FileExists(mail + "/1.eml") && !FileExists(tc.dir.File("EMGAAAAA.AAA")));
    EXPECT_EQ(std::pair(tc.console.sentPages.load(), tc.console.failedPages.load()), std::pair(2, 2));

    writePage(time(nullptr) - kRetryPeriodSeconds - 1);
    EXPECT_THAT(runWorker(closing.Port()), IsEmpty());
    EXPECT_TRUE(tc.WaitForStatus("Page for Desk 21 given up after 24 hours"));
}

// The test machines have no audio output: a sound then returns at once instead of holding the call for its length.
TEST(SoundTest, AMachineWithoutAudioPlaysNothingAndDoesNotWait) {
    int argc = 1;
    char name[] = "scheduler_test", *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    auto start = std::chrono::steady_clock::now();
    PlayWavToEnd(test::SourceDir() + "/app/resources/receive.wav");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

} // namespace
} // namespace brimlow
