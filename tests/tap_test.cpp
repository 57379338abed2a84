// The dial thread and the TAP session against a simulated Hayes modem and TAP terminal on a pseudo-terminal,
// in virtual time: what the terminal received, what the status lines said, what stays on disk.
#include "directory/data_files.h"
#include "queue/message_file.h"
#include "queue/queue_writer.h"
#include "queue/unique_name.h"
#include "serial/serial_facade.h"
#include "tests/support/fake_clock.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_console.h"
#include "tests/tap_terminal_sim.h"
#include "transports/modem.h"

#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace brimlow {
namespace {

using test::BlockAnswer;
using test::DialAnswer;
using test::TapTerminalScript;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr int kCompany = 4;
const std::string kName = "Metro Paging";

// Writes a ready page into folder, as the queue writers lay it down; returns its file name.
std::string WritePage(Console& console, const std::string& folder, const std::string& pin, const std::string& text) {
    mkdir(folder.c_str(), 0700);
    std::string path = JoinPath(folder, std::string("MSG") + kNameTemplate);
    int fd = CreateUniqueFile(console, path);
    EXPECT_GE(fd, 0);
    EXPECT_TRUE(WriteMessageFile(fd, test::MakeSubscriber("Desk " + pin, kCompany, pin), text));
    close(fd);
    return path.substr(path.rfind('/') + 1);
}

class TapDialTest : public ::testing::Test {
protected:
    void Connect(TapTerminalScript script = {}) {
        sim = std::make_unique<test::TapTerminalSim>(std::move(script));
        tc.console.clock = &clock;
        tc.console.settings.Update([&](Settings& s) {
            s.ComDevice[0] = sim->Device();
            s.ComDevice[2] = sim->Device();
            s.ModemPort = 2;
        });
        CompanyRecord& company = tc.console.local->companies[kCompany];
        company = test::MakeCompany(kName);
        SetText(company.Phone, "5551234");
        company.Port = 0;
        company.Baud = 2400;
        SetText(tc.console.modem.InitString, "ATE0M0");
        SetText(tc.console.modem.DialPrefix, "ATDT");
    }

    std::string Folder() const { return JoinPath(tc.dir.Path(), std::to_string(kCompany)); }
    std::string Queue(const std::string& pin, const std::string& text) {
        return WritePage(tc.console, Folder(), pin, text);
    }
    std::vector<std::string> Left() const { return test::ListDir(Folder()); }

    // Dials company kCompany and waits for the dial thread to end and its last status line to arrive.
    void Dial() {
        ASSERT_TRUE(StartDirectDial(tc.console, kCompany));
        WaitForDialEnd();
    }
    void WaitForDialEnd() {
        for (int i = 0; i < 60000 && tc.console.dialBusy.load() != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(tc.console.dialBusy.load(), 0);
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard lock(tc.console.mailbox.mutex);
                if (tc.console.mailbox.line.empty())
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::vector<std::string> Lines() const { return tc.StatusLines(); }

    test::FakeClock clock{1765000000, 50};
    test::TestConsole tc;
    std::unique_ptr<test::TapTerminalSim> sim;
};

TEST_F(TapDialTest, OnePageIsDeliveredInOneCallOverSevenDataBitsEvenParityOneStopBit) {
    Connect();
    Queue("1234", "Fire drill at noon");
    Dial();
    EXPECT_THAT(Lines(), ElementsAre("Calling Metro Paging...", "CONNECT 2400", "Starting TAP!", "Sending CR...",
                                     "Received 'ID=', attempting login . . .", "Login Accepted!",
                                     "Sending message...", "Page Accepted!", "Logging out!"));
    ASSERT_EQ(sim->Pages().size(), 1u);
    EXPECT_EQ(sim->Pages()[0].pin, "1234");
    EXPECT_EQ(sim->Pages()[0].text, "Fire drill at noon");
    EXPECT_THAT(sim->Commands(), ElementsAre("ATE0M0", "ATDT 5551234"));
    EXPECT_THAT(Left(), IsEmpty());
    EXPECT_EQ(tc.console.sentPages.load(), 1);
    EXPECT_EQ(tc.console.failedPages.load(), 0);
    // The line: every byte with even parity over seven data bits, one stop bit, the company's speed.
    EXPECT_GT(sim->BytesReceived(), 30);
    EXPECT_EQ(sim->ParityErrors(), 0);
    EXPECT_EQ(sim->ChecksumErrors(), 0);
    EXPECT_FALSE(sim->TwoStopBits());
    EXPECT_EQ(sim->Speed(), 2400u);
    EXPECT_EQ(sim->Logins(), 1);
    EXPECT_EQ(sim->Logouts(), 1);
    EXPECT_EQ(sim->HangUps(), 1);
    EXPECT_EQ(SerialOpenPortCount(), 0);
}

TEST_F(TapDialTest, LongMessagesGoInBlocksOfTwoHundredThirty) {
    Connect();
    const std::string exact(230, 'a');
    const std::string oneMore = std::string(230, 'b') + "c";
    const std::string twoFull = std::string(230, 'd') + std::string(230, 'e');
    const std::string three = std::string(460, 'f') + "g";
    for (const std::string* text : {&exact, &oneMore, &twoFull, &three})
        Queue("77", *text);
    Dial();
    std::vector<std::string> texts;
    for (const test::TapPage& page : sim->Pages()) {
        EXPECT_EQ(page.pin, "77");
        texts.push_back(page.text);
    }
    EXPECT_THAT(texts, ::testing::UnorderedElementsAre(exact, oneMore, twoFull, three));
    EXPECT_EQ(sim->Blocks().size(), 1u + 2u + 2u + 3u);
    EXPECT_EQ(sim->ChecksumErrors(), 0);
    EXPECT_EQ(tc.console.sentPages.load(), 4);
    std::vector<std::string> lines = Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Sending message..."), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Sending first block..."), 3);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Sending block..."), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Sending last block..."), 3);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Block Accepted!"), 4);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Page Accepted!"), 4);
    // The blocks of one page: the last ends in CR ETX, the others in US; only the first carries the PIN.
    for (const std::string& block : sim->Blocks()) {
        char end = block[block.size() - 5];
        EXPECT_TRUE(end == 0x03 || end == 0x1F);
        if (end == 0x03) {
            EXPECT_EQ(block[block.size() - 6], '\r');
        }
    }
    EXPECT_THAT(Left(), IsEmpty());
}

TEST_F(TapDialTest, ANakIsAnsweredByTheSameBlockAgain) {
    TapTerminalScript script;
    script.blockAnswers = {BlockAnswer::Nak};
    Connect(script);
    Queue("1", "A");
    Dial();
    EXPECT_THAT(Lines(), ::testing::IsSupersetOf({"Bad checksum, resending!", "Page Accepted!", "Logging out!"}));
    ASSERT_EQ(sim->Blocks().size(), 2u);
    EXPECT_EQ(sim->Blocks()[0], sim->Blocks()[1]);
    EXPECT_EQ(sim->Blocks()[0], std::string("\x02" "1\rA\r\x03" "091\r"));
    EXPECT_EQ(tc.console.sentPages.load(), 1);
    EXPECT_THAT(Left(), IsEmpty());
}

TEST_F(TapDialTest, ANakAndTwoTimeOutsUseUpTheBlocksThreeTriesAndEndTheCall) {
    TapTerminalScript script;
    script.blockAnswers = {BlockAnswer::Nak, BlockAnswer::Silent, BlockAnswer::Silent};
    Connect(script);
    Queue("1", "first");
    Dial();
    std::vector<std::string> lines = Lines();
    const std::string timeOut = "Time out waiting for terminal " + kName;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), timeOut), 2);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_THAT(std::vector<std::string>(lines.end() - 3, lines.end()),
                ElementsAre("Time out retries exausted! PIN=1 Company=" + kName, "Ack go-ahead not received!",
                            "Connection lost with " + kName));
    EXPECT_THAT(lines, Not(Contains("Logging out!")));
    EXPECT_EQ(sim->Blocks().size(), 3u);
    EXPECT_EQ(sim->Logouts(), 0);
    EXPECT_EQ(tc.console.failedPages.load(), 1);
    EXPECT_THAT(Left(), IsEmpty()); // the page that was tried three times is given up
}

TEST_F(TapDialTest, APageThatTimesOutThreeTimesLeavesTheOthersForTheNextCall) {
    TapTerminalScript script;
    script.blockAnswers = {BlockAnswer::Silent, BlockAnswer::Silent, BlockAnswer::Silent};
    Connect(script);
    Queue("1", "first");
    Queue("2", "second");
    Dial();
    EXPECT_EQ(tc.console.failedPages.load(), 1);
    EXPECT_EQ(Left().size(), 1u);
}

TEST_F(TapDialTest, ThreeNaksGiveThePageUpAndTheCallGoesOn) {
    TapTerminalScript script;
    script.blockAnswers = {BlockAnswer::Nak, BlockAnswer::Nak, BlockAnswer::Nak};
    Connect(script);
    Queue("1", "first");
    Queue("2", "second");
    Dial();
    std::vector<std::string> lines = Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Bad checksum, resending!"), 2);
    ASSERT_EQ(sim->Pages().size(), 1u);
    std::string refusedPin = sim->Pages()[0].pin == "1" ? "2" : "1";
    EXPECT_THAT(lines, Contains("Checksum retries exausted! PIN=" + refusedPin + " Company=" + kName));
    EXPECT_EQ(lines.back(), "Logging out!");
    EXPECT_EQ(tc.console.failedPages.load(), 1);
    EXPECT_EQ(tc.console.sentPages.load(), 1);
    EXPECT_THAT(Left(), IsEmpty());
}

TEST_F(TapDialTest, ARefusedPageIsCountedDeletedAndTheNextOneSent) {
    TapTerminalScript script;
    script.blockAnswers = {BlockAnswer::Rs};
    Connect(script);
    Queue("1", "first");
    Queue("2", "second");
    Dial();
    ASSERT_EQ(sim->Pages().size(), 1u);
    std::string refusedPin = sim->Pages()[0].pin == "1" ? "2" : "1";
    EXPECT_THAT(Lines(), Contains("Page rejected! PIN=" + refusedPin + " Company=" + kName));
    EXPECT_EQ(tc.console.failedPages.load(), 1);
    EXPECT_EQ(tc.console.sentPages.load(), 1);
    EXPECT_THAT(Left(), IsEmpty());
}

TEST_F(TapDialTest, APageQueuedDuringTheCallGoesInTheSameCall) {
    TapTerminalScript script;
    script.onBlock = [this](int block) {
        if (block == 0)
            Queue("9", "arrived meanwhile");
    };
    Connect(script);
    Queue("1", "first");
    Dial();
    ASSERT_EQ(sim->Pages().size(), 2u);
    EXPECT_EQ(sim->Pages()[1].text, "arrived meanwhile");
    EXPECT_EQ(sim->Logins(), 1);
    EXPECT_EQ(sim->HangUps(), 1);
    EXPECT_THAT(Left(), IsEmpty());
}

TEST_F(TapDialTest, LineBreaksTravelAsBlanksSoTheFieldsStayIntact) {
    Connect();
    Queue("5", "Fire drill\r\nat noon\nall staff");
    Dial();
    ASSERT_EQ(sim->Pages().size(), 1u);
    EXPECT_EQ(sim->Pages()[0].pin, "5");
    EXPECT_EQ(sim->Pages()[0].text, "Fire drill at noon all staff");
}

TEST_F(TapDialTest, EightBitCharactersKeepTheChecksumRightOnASevenBitLine) {
    Connect();
    Queue("5", "caf\xE9 \xB0");
    Dial();
    EXPECT_EQ(sim->ChecksumErrors(), 0);
    ASSERT_EQ(sim->Pages().size(), 1u);
    EXPECT_EQ(sim->Pages()[0].text, "cafi 0"); // the line carries seven data bits
}

TEST_F(TapDialTest, ATerminalThatNeverPromptsGetsElevenMoreCarriageReturns) {
    TapTerminalScript script;
    script.promptId = false;
    Connect(script);
    Queue("1", "first");
    Dial();
    std::vector<std::string> lines = Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Sending CR..."), 12);
    EXPECT_EQ(sim->CrsBeforeLogin(), 12);
    EXPECT_THAT(std::vector<std::string>(lines.end() - 2, lines.end()),
                ElementsAre("Tries expired waiting for ID= from terminal " + kName, "Logging out!"));
    EXPECT_EQ(Left().size(), 1u);
}

TEST_F(TapDialTest, ARefusedLoginLogsOutAndKeepsThePages) {
    TapTerminalScript script;
    script.acceptLogin = false;
    Connect(script);
    Queue("1", "first");
    Dial();
    std::vector<std::string> lines = Lines();
    EXPECT_THAT(std::vector<std::string>(lines.end() - 2, lines.end()), ElementsAre("Login Rejected!", "Logging out!"));
    EXPECT_EQ(Left().size(), 1u);
    EXPECT_EQ(tc.console.failedPages.load(), 0);
}

TEST_F(TapDialTest, NoGoAheadAfterTheLoginLosesTheConnectionWithoutLogout) {
    TapTerminalScript script;
    script.goAhead = false;
    Connect(script);
    Queue("1", "first");
    Dial();
    std::vector<std::string> lines = Lines();
    EXPECT_THAT(std::vector<std::string>(lines.end() - 3, lines.end()),
                ElementsAre("Time out waiting for terminal " + kName, "Ack go-ahead not received!",
                            "Connection lost with " + kName));
    EXPECT_EQ(Left().size(), 1u);
    EXPECT_EQ(sim->Logouts(), 0);
}

TEST_F(TapDialTest, AHangUpDuringTheCallKeepsTheUnsentPage) {
    TapTerminalScript script;
    script.blockAnswers = {BlockAnswer::HangUp};
    Connect(script);
    Queue("1", "first");
    Dial();
    EXPECT_EQ(Lines().back(), "Connection lost with " + kName);
    EXPECT_EQ(Left().size(), 1u);
    EXPECT_EQ(tc.console.sentPages.load() + tc.console.failedPages.load(), 0);
}

TEST_F(TapDialTest, AFileTooShortForItsRecordIsReportedAndRemoved) {
    Connect();
    mkdir(Folder().c_str(), 0700);
    test::WriteFile(JoinPath(Folder(), "MSGTORNA.AAA"), std::string(100, 'x'));
    Queue("1", "whole");
    Dial();
    EXPECT_THAT(Lines(), Contains("Unable to open message packet!"));
    ASSERT_EQ(sim->Pages().size(), 1u);
    EXPECT_EQ(sim->Pages()[0].text, "whole");
    EXPECT_THAT(Left(), IsEmpty());
}

struct ModemRefusal {
    DialAnswer answer;
    std::string line;
};

class TapModemRefusalTest : public TapDialTest, public ::testing::WithParamInterface<ModemRefusal> {};

TEST_P(TapModemRefusalTest, EndsTheCallAndKeepsThePages) {
    TapTerminalScript script;
    script.dial = GetParam().answer;
    Connect(script);
    Queue("1", "first");
    Dial();
    EXPECT_THAT(Lines(), ElementsAre("Calling Metro Paging...", GetParam().line, GetParam().line));
    EXPECT_EQ(Left().size(), 1u);
    EXPECT_EQ(sim->HangUps(), 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, TapModemRefusalTest,
                         ::testing::Values(ModemRefusal{DialAnswer::Busy, "BUSY"},
                                           ModemRefusal{DialAnswer::NoCarrier, "NO CARRIER"},
                                           ModemRefusal{DialAnswer::NoDialtone, "NO DIALTONE"}));

TEST_F(TapDialTest, ASilentModemIsGivenSixtySeconds) {
    TapTerminalScript script;
    script.dial = DialAnswer::Silent;
    Connect(script);
    Queue("1", "first");
    time_t start = clock.Now();
    Dial();
    EXPECT_THAT(Lines(), ElementsAre("Calling Metro Paging..."));
    EXPECT_GE(clock.Now() - start, 60 + 4);
    EXPECT_LT(clock.Now() - start, 60 + 4 + 5);
    EXPECT_EQ(Left().size(), 1u);
}

TEST_F(TapDialTest, APortThatCannotBeOpenedIsReportedWithItsComNumberAndStatus) {
    Connect();
    tc.console.local->companies[kCompany].Port = 1;
    tc.console.settings.Update([](Settings& s) { s.ComDevice[1] = "/dev/brimlow-missing"; });
    Queue("1", "first");
    Dial();
    EXPECT_THAT(Lines(), ElementsAre("Failed to open port 2.  Status = -14"));
    EXPECT_EQ(Left().size(), 1u);
    EXPECT_EQ(SerialOpenPortCount(), 0);
}

TEST_F(TapDialTest, OnTheNetworkTabTheNetworkDirectorysCompanyIsDialled) {
    Connect();
    CompanyRecord& theirs = tc.console.network->companies[kCompany];
    theirs = test::MakeCompany("Network Paging");
    SetText(theirs.Phone, "5554444");
    theirs.Baud = 4800;
    tc.console.currentTab = kNetworkTab;
    Queue("3", "via the network tab");
    Dial();
    EXPECT_THAT(sim->DialledNumbers(), ElementsAre("5554444"));
    EXPECT_EQ(sim->Speed(), 4800u);
    EXPECT_EQ(Lines().front(), "Calling Network Paging...");
    EXPECT_THAT(Left(), IsEmpty());
}

TEST_F(TapDialTest, OnlyOneDialRunsAtATime) {
    Connect();
    tc.console.dialBusy = kCompany + 1;
    EXPECT_TRUE(StartDirectDial(tc.console, kCompany)); // already served
    EXPECT_FALSE(StartDirectDial(tc.console, 2));
    EXPECT_FALSE(StartQueuedDial(tc.console, "north", 2));
    tc.console.dialBusy = 0;
    EXPECT_FALSE(StartDirectDial(tc.console, 100));
    EXPECT_FALSE(StartDirectDial(tc.console, -1));
    EXPECT_EQ(tc.console.dialBusy.load(), 0);
}

class TapQueuedDialTest : public TapDialTest {
protected:
    std::string EntryFolder(const std::string& entry) const {
        return tc.dir.Path() + "/Queue/" + entry + "/" + std::to_string(kCompany);
    }
    void MakeEntry(const std::string& entry, const CompanyRecord& company) {
        mkdir((tc.dir.Path() + "/Queue").c_str(), 0700);
        mkdir((tc.dir.Path() + "/Queue/" + entry).c_str(), 0700);
        mkdir(EntryFolder(entry).c_str(), 0700);
        test::WriteFile(EntryFolder(entry) + "/Company.dat",
                        std::string(reinterpret_cast<const char*>(&company), sizeof company));
    }
};

TEST_F(TapQueuedDialTest, AQueueEntryIsDialledWithItsOwnCompanyOnTheModemPort) {
    Connect();
    CompanyRecord theirs = test::MakeCompany("North Relay");
    SetText(theirs.Phone, "5559876");
    theirs.Port = 3; // the client's port means nothing here
    theirs.Baud = 9600;
    MakeEntry("north", theirs);
    // A network page carries its text without terminator.
    std::string bytes = [] {
        SubscriberRecord r = test::MakeSubscriber("Desk N", kCompany, "4242");
        return std::string(reinterpret_cast<const char*>(&r), sizeof r) + "from the client";
    }();
    test::WriteFile(EntryFolder("north") + "/MSGAAAAA.AAA", bytes);
    ASSERT_TRUE(StartQueuedDial(tc.console, "north", kCompany));
    WaitForDialEnd();
    EXPECT_THAT(Lines(), Contains("Calling North Relay..."));
    EXPECT_THAT(sim->DialledNumbers(), ElementsAre("5559876"));
    EXPECT_EQ(sim->Speed(), 9600u);
    ASSERT_EQ(sim->Pages().size(), 1u);
    EXPECT_EQ(sim->Pages()[0].pin, "4242");
    EXPECT_EQ(sim->Pages()[0].text, "from the client");
    EXPECT_THAT(test::ListDir(EntryFolder("north")), ElementsAre("Company.dat"));
}

TEST_F(TapQueuedDialTest, AnEntryWithoutItsCompanyOrWithAnUnsafeNameIsNotDialled) {
    Connect();
    EXPECT_FALSE(StartQueuedDial(tc.console, "south", kCompany));
    MakeEntry("short", CompanyRecord{});
    test::WriteFile(EntryFolder("short") + "/Company.dat", "torn");
    EXPECT_FALSE(StartQueuedDial(tc.console, "short", kCompany));
    EXPECT_FALSE(StartQueuedDial(tc.console, "..", kCompany));
    EXPECT_FALSE(StartQueuedDial(tc.console, "a/b", kCompany));
    EXPECT_FALSE(StartQueuedDial(tc.console, std::string(32, 'n'), kCompany));
    EXPECT_EQ(tc.console.dialBusy.load(), 0);
}

TEST(ModemStringTest, PausesHangUpsAndCarriageReturnsAreCharactersOfTheirOwn) {
    test::PtyPair pty;
    test::FakeClock clock;
    Console console;
    console.clock = &clock;
    SerialPort* port = SerialOpen(pty.Slave(), 0, 9600, 'N', 8, 1);
    ASSERT_EQ(port->status, 0);
    int64_t start = clock.NowMs();
    SendModemString(console, *port, "AT^Z~|+++");
    EXPECT_EQ(pty.Read(7), "ATZ\r+++");
    EXPECT_GE(clock.NowMs() - start, 2000); // "^" and "|" each take a second
    SendBlockString(console, *port, std::string("\x02" "1\r", 3));
    EXPECT_EQ(pty.Read(3), std::string("\x02" "1\r", 3));
    ClosePort(*port);
}

} // namespace
} // namespace brimlow
