// The console operator's own edits of the local directory on a server console: what the LAN sessions are told,
// and an open entry found again after a session's write has moved it.
#include "app/directory_edits.h"
#include "tests/server_fixture.h"

#include <gmock/gmock.h>

namespace brimlow::lan {
namespace {

using EditsTest = ServerTest;

TEST_F(EditsTest, ANewEntryThatSortsLastIsReadByEveryClient) {
    Fill(3);
    auto ann = LoggedIn("ann");
    ASSERT_TRUE(WaitFor([&] { return server.Sessions().size() == 1; }));
    CheckCust(*ann);
    EXPECT_EQ(AddLocalEntry(tc.console, &server, test::MakeSubscriber("Zed", 0)), 3);
    std::string bits = CheckCust(*ann);
    EXPECT_TRUE(TestBit(bits, 3)) << "the new slot itself";
    EXPECT_FALSE(TestBit(bits, 4));
    EXPECT_EQ(CheckGroup(*ann), std::string(25, '\0')) << "a subscriber changes no group";
}

TEST_F(EditsTest, AnOpenEntryRefusesClientLocksAndIsStoredWhereASessionMovedIt) {
    Fill(3);
    auto bob = LoggedIn("bob");
    SubscriberRecord open;
    ASSERT_TRUE(OpenLocalEntry(tc.console, 0, 1, open));
    EXPECT_EQ(bob->Request(EncodeIndex(Request::LockRecord, 1), 3), "0\r\n");
    // bob renames "Name 0000" to sort after the open entry, which moves it up a slot meanwhile.
    ASSERT_EQ(bob->Request(EncodeIndex(Request::LockRecord, 0), 3), "1\r\n");
    SubscriberRecord renamed = test::MakeSubscriber("Name 0001b", 0);
    ASSERT_EQ(bob->Request(EncodeWriteCustomer(0, renamed), 3), "1\r\n");
    ASSERT_EQ(Read([](Directory& d) { return d.subscribers[0].LockByte; }), kLockedByLocalEditor);

    SetText(open.PIN, "999");
    EXPECT_TRUE(CloseLocalEntry(tc.console, &server, EditEnd::Store, open));
    EXPECT_EQ(Read([](Directory& d) { return GetText(d.subscribers[0].PIN); }), "999");
    EXPECT_EQ(Read([](Directory& d) { return GetText(d.subscribers[1].Name); }), "Name 0001b");
    EXPECT_EQ(Read([](Directory& d) { return d.subscribers[0].LockByte; }), 0);
    EXPECT_FALSE(CloseLocalEntry(tc.console, &server, EditEnd::Keep)) << "nothing is open any more";
}

} // namespace
} // namespace brimlow::lan
