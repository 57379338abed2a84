// A server console's own edits: the sessions learn only what changed; an open entry is found again after a move.
#include "app/directory_edits.h"
#include "tests/server_fixture.h"

#include <gmock/gmock.h>

namespace brimlow::lan {
namespace {

using EditsTest = ServerTest;

TEST_F(EditsTest, TheSessionsLearnWhatTheLocalOperatorChanged) {
    Fill(3);
    server.MarkAllSubscribersChanged(kSubscriberSlots); // the sessions' starting point
    auto ann = LoggedIn("ann");
    auto bob = LoggedIn("bob");
    SubscriberRecord open;
    ASSERT_TRUE(OpenLocalEntry(tc.console, 0, 1, open)); // locked as server_test's slot 7
    // A new entry that sorts last: its slot is marked, and not the open entry's lock byte, which is no change.
    EXPECT_EQ(AddLocalEntry(tc.console, &server, test::MakeSubscriber("Zed", 0)), 3);
    std::string bits(250, '\0');
    bits[0] = 1 << 3;
    EXPECT_EQ(CheckCust(*ann), bits);
    // bob renames "Name 0000" to sort after the open entry, which moves it up a slot meanwhile.
    ASSERT_EQ(bob->Request(EncodeIndex(Request::LockRecord, 0), 3), "1\r\n");
    ASSERT_EQ(bob->Request(EncodeWriteCustomer(0, test::MakeSubscriber("Name 0001b", 0)), 3), "1\r\n");
    ASSERT_EQ(Local([](Directory& d) { return d.subscribers[0].LockByte; }), kLockedByLocalEditor);
    SetText(open.PIN, "999");
    EXPECT_TRUE(CloseLocalEntry(tc.console, &server, EditEnd::Store, open));
    EXPECT_EQ(Local([](Directory& d) { return GetText(d.subscribers[0].PIN); }), "999");
    EXPECT_EQ(Local([](Directory& d) { return GetText(d.subscribers[1].Name); }), "Name 0001b");
    EXPECT_EQ(Local([](Directory& d) { return d.subscribers[0].LockByte; }), 0);
    EXPECT_FALSE(CloseLocalEntry(tc.console, &server, EditEnd::Keep)) << "nothing is open any more";
    server.MarkAllSubscribersChanged(kSubscriberSlots + 1);
    EXPECT_THAT(test::ReadFile(tc.DataFile("Network.log")), ::testing::HasSubstr("Error in AllSubscribersChanged!"));
}

} // namespace
} // namespace brimlow::lan
