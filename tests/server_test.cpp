// The server's requests against a raw client: logins, reads, locks, writes, adds, deletes and levels.
#include "tests/server_fixture.h"

#include <gmock/gmock.h>

namespace brimlow::lan {
namespace {

// "-10" before a Login; a second Login replaces the user and level, a refused one ends the connection. Reads send
// the records, and indexes out of range look free.
TEST_F(ServerTest, LoginsAndReads) {
    std::vector<std::string> members(kGroupMembers, "m");
    auto [full, fullGroup] = Local([&](Directory& d) {
        int g = test::AddGroup(d, "All", members);
        d.subscribers[0] = test::MakeSubscriber("Ann", 2, ""); // in the group entry's place
        return std::pair{g, "200" + test::RecordBytes(d.groups[g])};
    });
    server.SetMonitorCommand("before");
    test::RawClient client(server.Port(), false);
    EXPECT_EQ(client.Recv(39), "Network Session Started for 127.0.0.1\r\n");
    EXPECT_EQ(server.MonitorCommand(), "before"); // a loopback client leaves the monitor alone
    EXPECT_EQ(client.Request(EncodeIndex(Request::ReadCustomer, 0), 5), "-10\r\n");
    EXPECT_THAT(server.MonitorCommand(), ::testing::HasSubstr("Connection is not authenticated!  2"));
    EXPECT_TRUE(server.Sessions().empty());                                // no slot before the Login
    EXPECT_EQ(client.Request(EncodeLogin("ANN smith", "PW"), 3), "1\r\n"); // cut at the space
    EXPECT_EQ(server.MonitorCommand(), "Login Successful");
    ASSERT_TRUE(WaitFor([&] { return !server.Sessions().empty() && server.Sessions()[0].userName == "ANN"; }));
    EXPECT_EQ(client.Request(EncodeLogin("carl", "pw"), 3), "1\r\n");
    EXPECT_EQ(client.Request(EncodeEmpty(Request::SecurityLevel), 3), "0\r\n");
    const std::string freeCustomer = EncodeReadCustomerReply(SubscriberRecord{});
    for (const auto& [frame, reply] : std::vector<std::pair<std::string, std::string>>{
             {EncodeIndex(Request::ReadCustomer, 0), R"(046"Ann","","2","0","","","","","","","","","","")"},
             {EncodeIndex(Request::ReadGroup, full), fullGroup},
             {EncodeIndex(Request::IsGroup, full), "1\r\n"},
             {EncodeIndex(Request::ReadCustomer, 2000), freeCustomer},
             {EncodeIndex(Request::ReadGroup, 0), "000"},
             {EncodeIndex(Request::ReadGroup, 200), "000"},
             {EncodeIndex(Request::IsGroup, 5000), "0\r\n"},
             {EncodeIndex(Request::ReadCompany, 100), std::string(758, '\0')}}) {
        SCOPED_TRACE(frame.substr(1, frame.size() - 2));
        EXPECT_EQ(client.Request(frame, reply.size()), reply);
    }
    for (const char* body : {"@", "Z12", "/"}) // unknown codes and the unused one: no reply
        client.Send(std::string(1, kSoh) + body + std::string(1, kEtx));
    EXPECT_EQ(client.Recv(1, 50), ""); // and not a byte more
    auto ann = LoggedIn("ann");
    EXPECT_EQ(ann->Request(EncodeLogin("ann", "bad"), 3), "0\r\n");
    EXPECT_TRUE(ann->WaitClosed());
    EXPECT_TRUE(WaitFor([&] { return server.MonitorCommand() == "Connection closed..."; }));
    test::RawClient refused(server.Port()); // an empty login, with accounts
    EXPECT_EQ(refused.Request(EncodeLogin("", ""), 3), "0\r\n");
    EXPECT_TRUE(refused.WaitClosed());
    EXPECT_FALSE(refused.SawReset()) << "the refusal arrives whole";
}

// A write needs anyone's lock, keeps the stored tab, ends the lock, and is told to every session but the writer's.
TEST_F(ServerTest, LocksAndWrites) {
    Fill(12);
    Local([](Directory& d) {
        d.subscribers[1].Tab = 2;
        d.subscribers[7].LockByte = kLockedByLocalEditor;
        d.subscribers[8].LockByte = 150; // no session slot: never selects one
        d.subscribers[9].LockByte = 60;  // a free session slot
    });
    server.MarkAllSubscribersChanged(kSubscriberSlots); // the sessions' starting point
    auto ann = LoggedIn("ann");
    auto bob = LoggedIn("bob");
    EXPECT_EQ(ann->Request(EncodeIndex(Request::LockRecord, 5), 3), "1\r\n");
    for (auto* client : {ann.get(), bob.get()})
        EXPECT_EQ(client->Request(EncodeIndex(Request::LockRecord, 5), 3), "0\r\n");
    EXPECT_EQ(bob->Request(EncodeIndex(Request::LockOwner, 7), 8), "*SERVER*");
    for (int slot : {6, 8, 9, 4000})
        EXPECT_EQ(bob->Request(EncodeIndex(Request::LockOwner, slot), 10), "Not Locked") << slot;
    for (int slot : {7, 2000})
        EXPECT_EQ(bob->Request(EncodeIndex(Request::LockRecord, slot), 3), "0\r\n") << slot;
    for (int slot : {5, 5000})
        EXPECT_EQ(bob->Request(EncodeIndex(Request::UnlockRecord, slot), 3), "1\r\n") << slot;
    EXPECT_EQ(Local([](Directory& d) { return d.subscribers[5].LockByte; }), 0);
    SubscriberRecord changed = test::MakeSubscriber("Name 0001", 0, "777", 3);
    SetText(changed.City, "Springfield");
    changed.LockByte = kLockedByLocalEditor; // only the server locks
    for (int slot : {1, 2000, 9999})
        EXPECT_EQ(bob->Request(EncodeWriteCustomer(slot, changed), 3), "0\r\n") << slot;
    EXPECT_EQ(Local([](Directory& d) { return GetText(d.subscribers[1].City); }), "");
    ASSERT_EQ(ann->Request(EncodeIndex(Request::LockRecord, 1), 3), "1\r\n");
    EXPECT_EQ(bob->Request(EncodeWriteCustomer(1, changed), 3), "1\r\n");
    changed.Tab = 2;
    changed.LockByte = 0;
    EXPECT_EQ(Local([](Directory& d) { return test::RecordBytes(d.subscribers[1]); }), test::RecordBytes(changed));
    std::string onlySlot1(250, '\0');
    onlySlot1[0] = 1 << 1;
    EXPECT_EQ(CheckCust(*ann), onlySlot1);
    EXPECT_FALSE(TestBit(CheckCust(*bob), 1));
    EXPECT_EQ(CheckCust(*ann), std::string(250, '\0')); // cleared by the check
}

// Read-only sessions change nothing, not even a lock, and deleting needs the highest level. A deleted group entry
// takes its group and is told to everyone; an added subscriber gets tab 0 and no lock.
TEST_F(ServerTest, LevelsAndGroupWritesAddsAndDeletes) {
    Fill(2);
    int g = Local([&](Directory& d) {
        d.subscribers[1].LockByte = kLockedByLocalEditor; // so that only the level can refuse carl's write
        return test::AddGroup(d, "Night", {"a"});
    });
    const std::string before = Local([](Directory& d) { return test::RecordBytes(d); });
    auto group = std::make_unique<GroupRecord>();
    auto carl = LoggedIn("carl");
    for (const std::string& frame :
         {EncodeIndex(Request::LockRecord, 0), EncodeWriteCustomer(1, test::MakeSubscriber("Changed", 0)),
          EncodeIndex(Request::UnlockRecord, 1), EncodeAddCustomer(test::MakeSubscriber("New", 0)),
          EncodeIndex(Request::DeleteCust, 1), EncodeWriteGroup(g, *group), EncodeAddGroup(9, "New group", *group)})
        EXPECT_EQ(carl->Request(frame, 3), "0\r\n") << frame[1];
    auto ann = LoggedIn("ann");
    auto bob = LoggedIn("bob");
    EXPECT_EQ(bob->Request(EncodeIndex(Request::DeleteCust, 1), 3), "0\r\n");
    EXPECT_TRUE(Local([](Directory& d) { return test::RecordBytes(d); }) == before);
    SetText(group->Members[0], "Name 0000");
    EXPECT_EQ(bob->Request(EncodeWriteGroup(g, *group), 3), "1\r\n");
    EXPECT_FALSE(TestBit(CheckGroup(*bob), g));
    for (int bad : {0, 200})
        EXPECT_EQ(bob->Request(EncodeWriteGroup(bad, *group), 3), "0\r\n") << bad;
    EXPECT_EQ(ann->Request(EncodeIndex(Request::DeleteCust, 2), 3), "1\r\n"); // the group's entry
    EXPECT_TRUE(Local([&](Directory& d) { return IsEmptyText(d.groups[g].Members[0]); }));
    EXPECT_TRUE(TestBit(CheckGroup(*ann), g) && TestBit(CheckGroup(*bob), g));
    EXPECT_EQ(ann->Request(EncodeIndex(Request::DeleteCust, 2000), 3), "0\r\n");
    SubscriberRecord added = test::MakeSubscriber("Name 0000b", 1, "99", 3);
    added.LockByte = 42;
    EXPECT_EQ(ann->Request(EncodeAddCustomer(added), 3), "1\r\n");
    EXPECT_EQ(ann->Request(EncodeAddCustomer(test::MakeSubscriber("", 1)), 3), "0\r\n");
    added.Tab = added.LockByte = 0;
    EXPECT_EQ(Local([](Directory& d) { return test::RecordBytes(d.subscribers[1]); }), test::RecordBytes(added));
    Fill(2000);
    EXPECT_EQ(ann->Request(EncodeAddCustomer(added), 3), "0\r\n");
    EXPECT_EQ(ann->Request(EncodeAddGroup(77, "Second", *group), 3), "1\r\n"); // no entry, but the group
    EXPECT_EQ(Local([&](Directory& d) { return GetText(d.groups[g].Members[0]); }), "Name 0000");
}

} // namespace
} // namespace brimlow::lan
