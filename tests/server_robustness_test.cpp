// The server against clients that misbehave (a login among hostile crowds: bench/server_attack_bench).
#include "tests/server_fixture.h"
#include "directory/data_files.h"
#include "queue/file_listing.h"
#include "queue/logs.h"
#include "queue/message_file.h"
#include "tests/support/line_peer.h"

#include <gtest/gtest.h>
#include <thread>

namespace brimlow::lan {
namespace {

const std::string kPing = EncodeEmpty(Request::Ping);

// Junk and frames without their ETX are dropped and the next request served; a frame sent byte by byte is taken
// whole, one cut off by a vanishing client never applied.
TEST_F(ServerTest, JunkIsDroppedAndFramesAreTakenWholeOrNotAtAll) {
    Fill(5);
    auto ann = LoggedIn("ann");
    auto bob = LoggedIn("bob");
    const std::string soh(1, kSoh);
    for (const std::string& junk : {std::string("garbage\x03\x03"), std::string(20000, 'j'), soh + "8X",
                                    soh + "F" + std::string(400, 'n'), soh + "212"})
        EXPECT_EQ(ann->Request(junk + kPing, 6), "PONG\r\n") << junk.substr(0, 5);
    SubscriberRecord record = test::MakeSubscriber("Name 0001", 0, "3333", 3);
    record.Company = 0x03030303;
    ASSERT_EQ(bob->Request(EncodeIndex(Request::LockRecord, 1), 3), "1\r\n");
    for (char c : EncodeWriteCustomer(1, record))
        bob->Send(std::string(1, c));
    EXPECT_EQ(bob->Recv(3), "1\r\n");
    EXPECT_EQ(Local([](Directory& d) { return d.subscribers[1].Company; }), 0x03030303);
    ASSERT_EQ(bob->Request(EncodeIndex(Request::LockRecord, 1), 3), "1\r\n");
    auto group = std::make_unique<GroupRecord>();
    memset(group.get(), 3, sizeof *group);
    ann->Send(EncodeWriteGroup(1, *group).substr(0, 9000));
    ann->Reset();
    ASSERT_TRUE(WaitFor([&] { return server.Sessions().size() == 1; }));
    EXPECT_NE(Local([](Directory& d) { return d.subscribers[1].LockByte; }), 0); // bob's stays
    EXPECT_TRUE(Local([](Directory& d) { return IsEmptyText(d.groups[1].Members[0]); }));
}

class LimitedServerTest : public ServerTest {
protected:
    LimitedServerTest() : ServerTest(FastTimings(300, {1, 3, 2})) {} // one worker, three pages, two per session
};

// Silent sessions and strangers are ended; pages past a session's share or the pool's limit are answered "0";
// when the server stops, the pages no worker has taken are filed where they can be and noted either way.
TEST_F(LimitedServerTest, SilenceAndPagesHaveTheirLimits) {
    Fill(3);
    auto silent = LoggedIn("ann");
    ASSERT_EQ(silent->Request(EncodeIndex(Request::LockRecord, 2), 3), "1\r\n");
    auto busy = LoggedIn("bob");
    test::RawClient stranger(server.Port()); // never logs in: gone at its deadline, while the busy one stays
    for (auto start = std::chrono::steady_clock::now();
         std::chrono::steady_clock::now() - start < std::chrono::milliseconds(900);) {
        ASSERT_EQ(busy->Request(kPing, 6), "PONG\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(stranger.WaitClosed(100));
    EXPECT_TRUE(silent->WaitClosed(5000));
    EXPECT_TRUE(WaitFor([&] { return Local([](Directory& d) { return d.subscribers[2].LockByte; }) == 0; }));

    auto provider = std::make_unique<test::LinePeer>([](test::PeerSession& s) { s.WaitClosed(); }); // never answers
    CompanyRecord company = test::MakeCompany("Silent", "127.0.0.1", provider->Port());
    std::string page = EncodeClientPage(kPageSnpp, "bob", "", "x", company, test::MakeSubscriber("Far", 0, "1"));
    auto ann = LoggedIn("ann");
    for (const char* reply : {"1\r\n", "1\r\n", "0\r\n"}) // two per session
        EXPECT_EQ(busy->Request(page, 3), reply);
    const std::string serverPage = EncodeServerPage(1, kPageSnpp, "", "to the queue");
    EXPECT_EQ(ann->Request(serverPage, 3), "1\r\n");
    EXPECT_EQ(ann->Request(serverPage, 3), "0\r\n"); // three in all
    EXPECT_EQ(server.PagesInFlight(), 3u);

    server.Stop(); // bob's first page is on the line; his second and ann's wait for the one worker
    std::vector<std::string> filed = ListNames(tc.console.dataDir, std::string(kReadyPrefix) + "*.*");
    ASSERT_EQ(filed.size(), 1u);
    std::optional<MessageFile> kept = ReadMessageFile(JoinPath(tc.console.dataDir, filed[0]));
    ASSERT_TRUE(kept);
    EXPECT_EQ(GetText(kept->record.Name), "Name 0001");
    EXPECT_EQ(kept->text, "to the queue");
    std::string log = test::ReadFile(JoinPath(tc.console.dataDir, kNetworkLog));
    EXPECT_NE(log.find("Page for Far from bob not sent: the server stopped before sending it"), std::string::npos);
    EXPECT_NE(log.find("Page for Name 0001 from ann filed for the next Send Q"), std::string::npos);
}

} // namespace
} // namespace brimlow::lan
