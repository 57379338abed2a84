// The dial thread and the TAP session against a simulated Hayes modem and TAP terminal on a pseudo-terminal,
// in virtual time: what the terminal received, what the status lines said, what stays on disk.
#include "directory/data_files.h"
#include "queue/queue_writer.h"
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
using test::With;
using Script = test::TapTerminalScript;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kCompany = 4;
const std::string kName = "Metro Paging";

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
    void Queue(const std::string& pin, const std::string& text) {
        test::WritePage(tc.console, Folder(), "MSG", test::MakeSubscriber("Desk " + pin, kCompany, pin), text);
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
    long Count(const std::string& line) const {
        std::vector<std::string> lines = Lines();
        return std::count(lines.begin(), lines.end(), line);
    }

    test::FakeClock clock{1765000000, 50};
    test::TestConsole tc;
    std::unique_ptr<test::TapTerminalSim> sim;
};

TEST_F(TapDialTest, OnePageIsDeliveredInOneCallOverSevenDataBitsEvenParityOneStopBit) {
    Connect();
    Queue("1234", "Fire drill at noon");
    Dial();
    EXPECT_THAT(Lines(), ElementsAre("Calling Metro Paging...", "CONNECT 2400", "Starting TAP!", "Sending CR...",
                                     "Received 'ID=', attempting login . . .", "Login Accepted!", "Sending message...",
                                     "Page Accepted!", "Logging out!"));
    EXPECT_THAT(sim->Pages(), ElementsAre(test::TapPage{"1234", "Fire drill at noon"}));
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
    EXPECT_THAT(sim->Pages(),
                ::testing::UnorderedElementsAre(test::TapPage{"77", exact}, test::TapPage{"77", oneMore},
                                                test::TapPage{"77", twoFull}, test::TapPage{"77", three}));
    EXPECT_EQ(sim->Blocks().size(), 1u + 2u + 2u + 3u);
    EXPECT_EQ(sim->ChecksumErrors(), 0);
    EXPECT_EQ(tc.console.sentPages.load(), 4);
    EXPECT_EQ(Count("Sending message..."), 1);
    EXPECT_EQ(Count("Sending first block..."), 3);
    EXPECT_EQ(Count("Sending block..."), 1);
    EXPECT_EQ(Count("Sending last block..."), 3);
    EXPECT_EQ(Count("Block Accepted!"), 4);
    EXPECT_EQ(Count("Page Accepted!"), 4);
    EXPECT_THAT(Left(), IsEmpty());
}

TEST_F(TapDialTest, ANakIsAnsweredByTheSameBlockAgain) {
    Connect(With(&Script::blockAnswers, std::vector{BlockAnswer::Nak}));
    Queue("1", "A");
    Dial();
    EXPECT_THAT(Lines(), ::testing::IsSupersetOf({"Bad checksum, resending!", "Page Accepted!", "Logging out!"}));
    const std::string block("\x02"
                            "1\rA\r\x03"
                            "091\r");
    EXPECT_THAT(sim->Blocks(), ElementsAre(block, block));
    EXPECT_EQ(tc.console.sentPages.load(), 1);
    EXPECT_THAT(Left(), IsEmpty());
}

// Calls that go wrong, each with two pages for PIN 1 queued: what the status lines end with, what is counted and
// what stays for the next call.
struct FailedCall {
    const char* name;
    TapTerminalScript script;
    int sent, failed;
    size_t left;
    std::vector<std::string> lastLines;
    std::vector<std::pair<std::string, long>> lineCounts;
    friend void PrintTo(const FailedCall& c, std::ostream* os) { *os << c.name; }
};

const std::string kTimeOut = "Time out waiting for terminal " + kName;
const std::string kLost = "Connection lost with " + kName;
const std::string kCalling = "Calling " + kName + "...";

const FailedCall kFailedCalls[] = {
    // Three tries of a block end the call; the page is given up, the other waits.
    {"NakThenTwoTimeOuts", With(&Script::blockAnswers, std::vector{BlockAnswer::Nak, BlockAnswer::Silent,
                                                                   BlockAnswer::Silent}), 0, 1, 1,
     {"Time out retries exausted! PIN=1 Company=" + kName, "Ack go-ahead not received!", kLost},
     {{kTimeOut, 2}, {"Bad checksum, resending!", 1}}},
    // A page refused by checksum or by the terminal is given up and the call goes on.
    {"ThreeNaks", With(&Script::blockAnswers, std::vector(3, BlockAnswer::Nak)), 1, 1, 0, {"Logging out!"},
     {{"Bad checksum, resending!", 2}, {"Checksum retries exausted! PIN=1 Company=" + kName, 1}}},
    {"PageRejected", With(&Script::blockAnswers, std::vector{BlockAnswer::Rs}), 1, 1, 0, {"Logging out!"},
     {{"Page rejected! PIN=1 Company=" + kName, 1}}},
    // Before any page is sent: the pages stay.
    {"NoIdPrompt", With(&Script::promptId, false), 0, 0, 2,
     {"Tries expired waiting for ID= from terminal " + kName, "Logging out!"}, {{"Sending CR...", 12}}},
    {"LoginRefused", With(&Script::acceptLogin, false), 0, 0, 2, {"Login Rejected!", "Logging out!"}, {}},
    {"NoGoAhead", With(&Script::goAhead, false), 0, 0, 2, {kTimeOut, "Ack go-ahead not received!", kLost}, {}},
    {"HangUp", With(&Script::blockAnswers, std::vector{BlockAnswer::HangUp}), 0, 0, 2, {kLost}, {}},
    {"Busy", With(&Script::dial, DialAnswer::Busy), 0, 0, 2, {kCalling, "BUSY", "BUSY"}, {}},
    {"NoCarrier", With(&Script::dial, DialAnswer::NoCarrier), 0, 0, 2, {kCalling, "NO CARRIER", "NO CARRIER"}, {}},
    {"NoDialtone", With(&Script::dial, DialAnswer::NoDialtone), 0, 0, 2, {kCalling, "NO DIALTONE", "NO DIALTONE"}, {}},
};

class TapFailedCallTest : public TapDialTest, public ::testing::WithParamInterface<FailedCall> {};

TEST_P(TapFailedCallTest, CountsAndKeepsWhatItShould) {
    const FailedCall& c = GetParam();
    Connect(c.script);
    Queue("1", "first");
    Queue("1", "second");
    Dial();
    std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), c.lastLines.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<long>(c.lastLines.size()), lines.end()), c.lastLines);
    for (const auto& [line, count] : c.lineCounts)
        EXPECT_EQ(Count(line), count) << line;
    if (c.lastLines.back() != "Logging out!") {
        EXPECT_EQ(Count("Logging out!"), 0);
        EXPECT_EQ(sim->Logouts(), 0);
    }
    EXPECT_EQ(static_cast<int>(sim->Pages().size()), c.sent);
    EXPECT_EQ(tc.console.sentPages.load(), c.sent);
    EXPECT_EQ(tc.console.failedPages.load(), c.failed);
    EXPECT_EQ(Left().size(), c.left);
    EXPECT_EQ(SerialOpenPortCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Calls, TapFailedCallTest, ::testing::ValuesIn(kFailedCalls),
                         [](const ::testing::TestParamInfo<FailedCall>& info) { return std::string(info.param.name); });

TEST_F(TapDialTest, ASilentModemIsGivenSixtySeconds) {
    Connect(With(&Script::dial, DialAnswer::Silent));
    Queue("1", "first");
    time_t start = clock.Now();
    Dial();
    EXPECT_THAT(Lines(), ElementsAre("Calling Metro Paging..."));
    EXPECT_GE(clock.Now() - start, 60 + 4);
    EXPECT_LT(clock.Now() - start, 60 + 4 + 5);
    EXPECT_EQ(Left().size(), 1u);
}

TEST_F(TapDialTest, APageQueuedDuringTheCallGoesInTheSameCall) {
    Connect(With(&Script::onBlock, [this](int block) {
        if (block == 0)
            Queue("9", "arrived meanwhile");
    }));
    Queue("1", "first");
    Dial();
    EXPECT_THAT(sim->Pages(), ElementsAre(test::TapPage{"1", "first"}, test::TapPage{"9", "arrived meanwhile"}));
    EXPECT_EQ(sim->Logins(), 1);
    EXPECT_EQ(sim->HangUps(), 1);
    EXPECT_THAT(Left(), IsEmpty());
}

// Line breaks and control characters would end or break the TAP block, in the text or in the PIN; bytes above
// 0x7F are sent as their seven data bits, and the checksum counts what arrives.
TEST_F(TapDialTest, ControlCharactersTravelAsBlanksAndEightBitTextKeepsTheChecksumRight) {
    Connect();
    Queue("5", "Fire drill\r\nat noon\nall staff");
    Queue("6", "caf\xE9 \xB0");
    Queue("7\x03", "a\x03" "b\x04" "c\x1b" "d\x1f" "e\x83" "f\x02");
    Dial();
    EXPECT_EQ(sim->ChecksumErrors(), 0);
    EXPECT_THAT(sim->Pages(), ::testing::UnorderedElementsAre(test::TapPage{"5", "Fire drill at noon all staff"},
                                                              test::TapPage{"6", "cafi 0"},
                                                              test::TapPage{"7 ", "a b c d e f "}));
    EXPECT_EQ(tc.console.failedPages.load(), 0);
}

TEST_F(TapDialTest, AFileTooShortForItsRecordIsReportedAndRemoved) {
    Connect();
    mkdir(Folder().c_str(), 0700);
    test::WriteFile(JoinPath(Folder(), "MSGTORNA.AAA"), std::string(100, 'x'));
    Queue("1", "whole");
    Dial();
    EXPECT_THAT(Lines(), Contains("Unable to open message packet!"));
    EXPECT_THAT(sim->Pages(), ElementsAre(test::TapPage{"1", "whole"}));
    EXPECT_THAT(Left(), IsEmpty());
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

TEST_F(TapDialTest, AQueueEntryIsDialledWithItsOwnCompanyOnTheModemPort) {
    Connect();
    CompanyRecord theirs = test::MakeCompany("North Relay");
    SetText(theirs.Phone, "5559876");
    theirs.Port = 3; // the client's port means nothing here
    theirs.Baud = 9600;
    std::string entry = test::WriteQueueEntry(tc.dir.Path(), "north", kCompany, theirs);
    // A network page carries its text without terminator.
    test::WriteFile(entry + "/MSGAAAAA.AAA",
                    test::RecordBytes(test::MakeSubscriber("Desk N", kCompany, "4242")) + "from the client");
    ASSERT_TRUE(StartQueuedDial(tc.console, "north", kCompany));
    WaitForDialEnd();
    EXPECT_THAT(Lines(), Contains("Calling North Relay..."));
    EXPECT_THAT(sim->DialledNumbers(), ElementsAre("5559876"));
    EXPECT_EQ(sim->Speed(), 9600u);
    EXPECT_THAT(sim->Pages(), ElementsAre(test::TapPage{"4242", "from the client"}));
    EXPECT_THAT(test::ListDir(entry), ElementsAre("Company.dat"));
}

// One dial runs at a time; a company out of range, a queue entry without its company or with an unsafe name
// is not dialled, and none of them claims the dialer.
TEST_F(TapDialTest, DialsThatCannotRunStartNothing) {
    Connect();
    tc.console.dialBusy = kCompany + 1;
    EXPECT_TRUE(StartDirectDial(tc.console, kCompany)); // already served
    EXPECT_FALSE(StartDirectDial(tc.console, 2));
    EXPECT_FALSE(StartQueuedDial(tc.console, "north", 2));
    tc.console.dialBusy = 0;
    EXPECT_FALSE(StartDirectDial(tc.console, 100));
    EXPECT_FALSE(StartDirectDial(tc.console, -1));
    EXPECT_FALSE(StartQueuedDial(tc.console, "south", kCompany));
    test::WriteFile(test::WriteQueueEntry(tc.dir.Path(), "short", kCompany, {}) + "/Company.dat", "torn");
    EXPECT_FALSE(StartQueuedDial(tc.console, "short", kCompany));
    EXPECT_FALSE(StartQueuedDial(tc.console, "..", kCompany));
    EXPECT_FALSE(StartQueuedDial(tc.console, "a/b", kCompany));
    EXPECT_FALSE(StartQueuedDial(tc.console, std::string(32, 'n'), kCompany));
    EXPECT_EQ(tc.console.dialBusy.load(), 0);
}

// A running call lists its folder at any moment and gives up a page too short to read: a ready page the server
// writes (its own subscriber's, or a client's) must never be written under its ready name, only appear there whole.
TEST(ReadyPageTest, ThePagesTheServerWritesAppearUnderTheirNamesOnlyWhole) {
    test::TestConsole tc;
    int slot = AddSubscriber(*tc.console.local, test::MakeSubscriber("Desk S", kCompany, "31"));
    const std::string own = JoinPath(tc.dir.Path(), std::to_string(kCompany));
    const std::string client = test::WriteQueueEntry(tc.dir.Path(), "north", kCompany, {});
    mkdir(own.c_str(), 0700);
    test::FolderWatch watch({own, client});

    ASSERT_EQ(WriteDirectPage(tc.console, slot, "own page"), 1);
    ASSERT_EQ(WriteServerIntake(tc.console, "north", test::MakeCompany("North Relay"),
                                test::MakeSubscriber("Desk N", kCompany, "32"), "client page"),
              1);

    test::FolderWatch::Seen seen = watch.Take();
    for (const std::string& name : seen.writtenAs)
        EXPECT_NE(name.rfind("MSG", 0), 0u) << name << " was written under its ready name";
    EXPECT_THAT(seen.renamedTo, ElementsAre("MSGAAAAA.AAA", "MSGAAAAA.AAA"));
    EXPECT_THAT(test::ListDir(own), ElementsAre("MSGAAAAA.AAA"));
    EXPECT_THAT(test::ListDir(client), ElementsAre("Company.dat", "MSGAAAAA.AAA"));
    struct stat st{};
    ASSERT_EQ(stat(JoinPath(own, "MSGAAAAA.AAA").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 1546);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
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
    SendBlockString(console, *port,
                    std::string("\x02"
                                "1\r",
                                3));
    EXPECT_EQ(pty.Read(3), std::string("\x02"
                                       "1\r",
                                       3));
    ClosePort(*port);
}

} // namespace
} // namespace brimlow
