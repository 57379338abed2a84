// The dialer against a simulated Hayes modem and TAP terminal on a pseudo-terminal, in virtual time.
#include "directory/data_files.h"
#include "queue/status.h"
#include "serial/serial_facade.h"
#include "tests/support/fake_clock.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_console.h"
#include "tests/tap_terminal_sim.h"
#include "transports/modem.h"

#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>

namespace brimlow {
namespace {

using test::BlockAnswer;
using test::DialAnswer;
using test::TapPage;
using test::With;
using Script = test::TapTerminalScript;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kCompany = 4;
const std::string kName = "Metro Paging";

class TapDialTest : public ::testing::Test {
protected:
    void Connect(Script script = {}) {
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

    // Dials kCompany (from the queue entry when one is named); waits for the call and its last status line.
    void Dial(const std::string& entry = "") {
        ASSERT_TRUE(entry.empty() ? StartDirectDial(tc.console, kCompany)
                                  : StartQueuedDial(tc.console, entry, kCompany));
        ASSERT_TRUE(tc.console.workers.WaitIdle(60000));
        for (int i = 0; i < 1000 && StatusWaiting(tc.console); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the drain thread stores what it took
    }
    long Count(const std::string& line) const {
        std::vector<std::string> lines = tc.StatusLines();
        return std::count(lines.begin(), lines.end(), line);
    }

    test::FakeClock clock{1765000000, 50};
    test::TestConsole tc;
    std::unique_ptr<test::TapTerminalSim> sim;
};

// Blocks of 230, control characters as blanks, 7 data bits; a page queued meanwhile goes too, a torn file does not.
TEST_F(TapDialTest, OneCallDeliversEveryReadyPage) {
    Connect(With(&Script::onBlock, [this](int block) {
        if (block == 0)
            Queue("9", "arrived meanwhile");
    }));
    const std::string exact(230, 'a'), three = std::string(460, 'f') + "g";
    Queue("1234", "Fire drill at noon");
    Queue("77", exact);
    Queue("77", three);
    Queue("7\x03", "Drill\r\nat\x1bnoon\tcaf\xE9\n\xB0\x7F\x83\xFF\r");
    test::WriteFile(JoinPath(Folder(), "MSGTORNA.AAA"), std::string(100, 'x'));
    Dial();
    test::TapTerminalLog log = sim->Log();
    EXPECT_THAT(log.pages, ::testing::UnorderedElementsAre(
                               TapPage{"1234", "Fire drill at noon"}, TapPage{"77", exact}, TapPage{"77", three},
                               TapPage{"7 ", "Drill at noon cafi 0    "}, TapPage{"9", "arrived meanwhile"}));
    EXPECT_EQ(log.blocks, 1 + 1 + 3 + 1 + 1);
    EXPECT_EQ(std::tuple(log.logins, log.logouts, log.hangUps, log.parityErrors, log.checksumErrors),
              std::tuple(1, 1, 1, 0, 0));
    EXPECT_EQ(log.line.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(std::pair(tc.console.sentPages.load(), tc.console.failedPages.load()), std::pair(5, 0));
    EXPECT_THAT(Left(), IsEmpty());
    std::vector<std::string> lines = tc.StatusLines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_THAT(std::vector(lines.begin(), lines.begin() + 6),
                ElementsAre("Calling Metro Paging...", "CONNECT 2400", "Starting TAP!", "Sending CR...",
                            "Received 'ID=', attempting login . . .", "Login Accepted!"));
    EXPECT_EQ(lines.back(), "Logging out!");
    std::vector<long> counts;
    for (const char* line :
         {"Sending message...", "Sending first block...", "Sending block...", "Sending last block...",
          "Block Accepted!", "Page Accepted!", "Unable to open message packet!"})
        counts.push_back(Count(line));
    EXPECT_THAT(counts, ElementsAre(4, 1, 1, 1, 2, 5, 1));
}

// Calls that go wrong (and a NAK that does not) with two pages queued: the last lines, the counts, what stays.
struct Call {
    const char* name;
    Script script;
    size_t delivered; // the pages the terminal accepted
    int failed;
    size_t left;
    std::vector<std::string> lastLines;
    std::vector<std::pair<std::string, long>> lineCounts;
    int seconds = 0;
};

const std::string kTimeOut = "Time out waiting for terminal " + kName;
const std::string kLost = "Connection lost with " + kName;
const std::string kCalling = "Calling " + kName + "...";
const std::string kResend = "Bad checksum, resending!";
const std::string kNoGoAhead = "Ack go-ahead not received!";
constexpr BlockAnswer Nak = BlockAnswer::Nak, Silent = BlockAnswer::Silent;
Script Blocks(std::vector<BlockAnswer> answers) {
    return With(&Script::blockAnswers, std::move(answers));
}

// clang-format off
const Call kCalls[] = {
    // A NAK is answered by the same block again.
    {"NakOnce", Blocks({Nak}), 2, 0, 0, {"Page Accepted!", "Logging out!"}, {{kResend, 1}}},
    // Three tries of a block end the call; the page is given up, the other waits.
    {"NakThenTwoTimeOuts", Blocks({Nak, Silent, Silent}), 0, 1, 1,
     {"Time out retries exausted! PIN=1 Company=" + kName, kNoGoAhead, kLost}, {{kTimeOut, 2}, {kResend, 1}}},
    // A page refused by checksum or by the terminal is given up and the call goes on.
    {"ThreeNaks", Blocks({Nak, Nak, Nak}), 1, 1, 0, {"Logging out!"},
     {{kResend, 2}, {"Checksum retries exausted! PIN=1 Company=" + kName, 1}}},
    {"PageRejected", Blocks({BlockAnswer::Rs}), 1, 1, 0, {"Logging out!"},
     {{"Page rejected! PIN=1 Company=" + kName, 1}}},
    // Before any page is sent: the pages stay.
    {"NoIdPrompt", With(&Script::promptId, false), 0, 0, 2,
     {"Tries expired waiting for ID= from terminal " + kName, "Logging out!"}, {{"Sending CR...", 12}}},
    {"LoginRefused", With(&Script::acceptLogin, false), 0, 0, 2, {"Login Rejected!", "Logging out!"}, {}},
    {"NoGoAhead", With(&Script::goAhead, false), 0, 0, 2, {kTimeOut, kNoGoAhead, kLost}, {}},
    {"HangUp", Blocks({BlockAnswer::HangUp}), 0, 0, 2, {kLost}, {}},
    {"Busy", With(&Script::dial, DialAnswer::Busy), 0, 0, 2, {kCalling, "BUSY", "BUSY"}, {}},
    {"NoCarrier", With(&Script::dial, DialAnswer::NoCarrier), 0, 0, 2, {kCalling, "NO CARRIER", "NO CARRIER"}, {}},
    {"NoDialtone", With(&Script::dial, DialAnswer::NoDialtone), 0, 0, 2, {kCalling, "NO DIALTONE", "NO DIALTONE"}, {}},
    // A silent modem is given sixty seconds after its init string.
    {"SilentModem", With(&Script::dial, DialAnswer::Silent), 0, 0, 2, {kCalling}, {{kCalling, 1}}, 64},
};
// clang-format on

class TapCallTest : public TapDialTest, public ::testing::WithParamInterface<Call> {};

TEST_P(TapCallTest, CountsAndKeepsWhatItShould) {
    const Call& c = GetParam();
    Connect(c.script);
    Queue("1", "page");
    Queue("1", "page");
    const time_t start = clock.Now();
    Dial();
    std::vector<std::string> lines = tc.StatusLines();
    ASSERT_GE(lines.size(), c.lastLines.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<long>(c.lastLines.size()), lines.end()), c.lastLines);
    for (const auto& [line, count] : c.lineCounts)
        EXPECT_EQ(Count(line), count) << line;
    if (c.lastLines.back() != "Logging out!") {
        EXPECT_EQ(Count("Logging out!") + sim->Log().logouts, 0);
    }
    EXPECT_EQ(sim->Log().pages.size(), c.delivered);
    EXPECT_EQ(std::pair(tc.console.sentPages.load(), tc.console.failedPages.load()),
              std::pair(static_cast<int>(c.delivered), c.failed));
    EXPECT_EQ(Left().size(), c.left);
    EXPECT_EQ(SerialOpenPortCount(), 0);
    EXPECT_GE(clock.Now() - start, c.seconds);
    EXPECT_LT(clock.Now() - start, c.seconds + 70);
}

INSTANTIATE_TEST_SUITE_P(Calls, TapCallTest, ::testing::ValuesIn(kCalls),
                         [](const ::testing::TestParamInfo<Call>& info) { return std::string(info.param.name); });

// The Network tab dials the network directory's company; a LAN client's queue entry its own, on the ModemPort.
TEST_F(TapDialTest, TheCompanyComesFromTheNetworkDirectoryOrTheQueueEntry) {
    Connect();
    tc.console.network->companies[kCompany] = test::MakeCompany("Network Paging");
    SetText(tc.console.network->companies[kCompany].Phone, "5554444");
    tc.console.currentTab = kNetworkTab;
    Queue("3", "via the network tab");
    Dial();
    CompanyRecord relay = test::MakeCompany("North Relay");
    SetText(relay.Phone, "5559876");
    relay.Baud = 9600;
    std::string entry = test::WriteQueueEntry(tc.dir.Path(), "north", kCompany, relay);
    test::WriteFile(entry + "/MSGAAAAA.AAA",
                    test::RecordBytes(test::MakeSubscriber("Desk N", kCompany, "4242")) + "from the client");
    Dial("north");
    test::TapTerminalLog log = sim->Log();
    EXPECT_THAT(log.commands, ElementsAre("ATE0M0", "ATDT 5554444", "ATE0M0", "ATDT 5559876"));
    EXPECT_EQ(cfgetospeed(&log.line), speed_t{B9600});
    EXPECT_THAT(log.pages, ElementsAre(TapPage{"3", "via the network tab"}, TapPage{"4242", "from the client"}));
    EXPECT_THAT(Left(), IsEmpty());
    EXPECT_THAT(test::ListDir(entry), ElementsAre("Company.dat"));
    // A torn company record would dial garbage (missing records and unsafe names are the queue scan tests').
    test::WriteFile(test::WriteQueueEntry(tc.dir.Path(), "short", kCompany, {}) + "/Company.dat", "torn");
    EXPECT_FALSE(StartQueuedDial(tc.console, "short", kCompany));
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
    ClosePort(*port);
}

} // namespace
} // namespace brimlow
