// Pages that clients hand to the server, delivered through the server's own transports, and the two-way
// tickets that go back to their clients.
#include "queue/file_listing.h"
#include "queue/message_file.h"
#include "tests/server_fixture.h"
#include "tests/snpp_simulator.h"
#include "tests/support/peer_process.h"
#include "tracking/unread_mark.h"
#include "transports/smtp.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace brimlow::lan {
namespace {

using test::RawClient;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class ServerPageTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        MakeFolder(tc.dir.File("Tracking"));
        Edit([](Directory& d) {
            d.subscribers[0] = test::MakeSubscriber("Duty Desk", 0, "5551234");
            SetText(d.subscribers[0].Email, "pager@example.net");
        });
    }

    void Ticket(const std::string& name, const std::string& content, bool unread = true) {
        std::string path = tc.dir.File("Tracking/" + name);
        test::WriteFile(path, content);
        unread ? SetUnreadMark(path) : ClearUnreadMark(path);
    }
    std::vector<std::string> Offered(RawClient& client) {
        std::vector<std::string> names;
        FileFindRecord record;
        DecodeFileFind(client.Request(EncodeEmpty(Request::FirstTicket), 280), record);
        for (; record.name[0]; DecodeFileFind(client.Request(EncodeEmpty(Request::NextTicket), 280), record))
            names.push_back(record.name);
        return names;
    }
    std::string Page(RawClient& client, const std::string& frame) {
        std::string reply = client.Request(frame, 3);
        EXPECT_TRUE(PagesDone());
        return reply;
    }
};

// A Client Page goes to the company it carries; with two-way, its ticket names that company's address.
TEST_F(ServerPageTest, AClientPageBySnppGoesToTheCompanyItCarries) {
    test::SnppSimulator snpp(test::SnppScript{});
    CompanyRecord carried = test::MakeCompany("Client Co", "127.0.0.1", snpp.Port());
    carried.TwoWay = 1;
    auto bob = LoggedIn("bob");
    SubscriberRecord remote = test::MakeSubscriber("Remote", 4, "8889");
    EXPECT_EQ(Page(*bob, EncodeClientPage(kPageSnpp, "bob", "", "From afar", carried, remote)), "1\r\n");
    EXPECT_THAT(snpp.Commands(), ElementsAre("2WAY", "PAGE 8889", "DATA", "SEND", "QUIT"));
    EXPECT_THAT(snpp.Messages(), ElementsAre("From afar\n"));
    EXPECT_EQ(tc.console.sentPages.load(), 1);
    EXPECT_THAT(test::ListDir(tc.dir.File("Tracking")),
                ElementsAre("Remote.31337.5-127.0.0.1-" + std::to_string(snpp.Port()) + "-bob"));
}

TEST_F(ServerPageTest, ServerPageForTheModemQueueIsReadyToDial) {
    auto carl = LoggedIn("carl"); // sending pages needs no write level
    EXPECT_EQ(carl->Request(EncodeServerPage(0, kPageModem, "", "Queued text"), 3), "1\r\n");
    std::vector<std::string> files = test::ListDir(tc.dir.File("0"));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].substr(0, 3), "MSG");
    std::optional<MessageFile> queued = ReadMessageFile(tc.dir.File("0/" + files[0]));
    ASSERT_TRUE(queued);
    EXPECT_EQ(GetText(queued->record.Name), "Duty Desk");
    EXPECT_EQ(queued->text, "Queued text");
    // A slot out of range or free, or a page type of none of the three: answered, and nothing delivered.
    for (auto [slot, type] : {std::pair{2000, kPageModem}, {-5, kPageModem}, {1, kPageModem}, {0, 9}})
        EXPECT_EQ(carl->Request(EncodeServerPage(slot, type, "", "x"), 3), "1\r\n") << slot;
    EXPECT_EQ(test::ListDir(tc.dir.File("0")).size(), 1u);
}

// aiosmtpd as the console's mail server: a Server Page goes to the server's subscriber, a Client Page to the
// subscriber it carries.
TEST_F(ServerPageTest, PagesByEmailAreDeliveredThroughTheMailServer) {
    std::string mail = tc.dir.File("mail");
    test::PeerProcess smtp(test::SmtpSinkCommand(mail));
    ASSERT_GT(smtp.Port(), 0);
    setenv(kSmtpPortVariable, std::to_string(smtp.Port()).c_str(), 1);
    tc.console.settings.Update(
        [](Settings& s) { s.ReturnAddress = "desk@example.com", s.OutboundMailServer = "127.0.0.1"; });
    auto ann = LoggedIn("ann");
    EXPECT_EQ(Page(*ann, EncodeServerPage(0, kPageEmail, "Drill", "Mail text")), "1\r\n");
    SubscriberRecord carried = test::MakeSubscriber("Remote", 4, "8889");
    SetText(carried.Email, "remote@example.org");
    EXPECT_EQ(Page(*ann, EncodeClientPage(kPageEmail, "ann", "Subj", "Body", CompanyRecord{}, carried)), "1\r\n");
    EXPECT_EQ(test::ReadFile(mail + "/1.env"), "FROM desk@example.com\nTO pager@example.net\n");
    EXPECT_THAT(test::ReadFile(mail + "/1.eml"), HasSubstr("Subject: Drill\r\n"));
    EXPECT_THAT(test::ReadFile(mail + "/1.eml"), HasSubstr("Mail text"));
    EXPECT_EQ(test::ReadFile(mail + "/2.env"), "FROM desk@example.com\nTO remote@example.org\n");
    unsetenv(kSmtpPortVariable);
}

// Queue/<user>/<company>: the company's record and the page. User names that would leave the Queue folder are
// refused or made harmless, and the next page still goes.
TEST_F(ServerPageTest, ClientPageForTheModemGoesIntoTheQueueFolderOfTheUser) {
    CompanyRecord company = test::MakeCompany("Client Co", "", 444);
    SetText(company.Phone, "5550000");
    SubscriberRecord sub = test::MakeSubscriber("Remote", 4, "8889");
    auto bob = LoggedIn("bob");
    EXPECT_EQ(Page(*bob, EncodeClientPage(kPageModem, "bob", "", "Dial me", company, sub)), "1\r\n");
    std::string folder = tc.dir.File("Queue/bob/4");
    EXPECT_EQ(test::ReadFile(folder + "/Company.dat"), test::RecordBytes(company));
    std::vector<std::string> files = test::ListDir(folder);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(test::ReadFile(folder + "/" + files[1]), test::RecordBytes(sub) + "Dial me");

    for (const char* user : {"..", ".", "", "../../etc"})
        EXPECT_EQ(Page(*bob, EncodeClientPage(kPageModem, user, "", "x", company, sub)), "1\r\n");
    EXPECT_THAT(test::ListDir(tc.dir.File("Queue")), ElementsAre(".. .. etc", "bob"));
    EXPECT_FALSE(test::FileExists(tc.dir.File("4")));
    sub.Company = 100; // no such folder number
    EXPECT_EQ(Page(*bob, EncodeClientPage(kPageModem, "bob", "", "x", company, sub)), "1\r\n");
    EXPECT_THAT(test::ListDir(tc.dir.File("Queue/bob")), ElementsAre("4"));
}

// Only the user's own uncollected tickets, with no regard to case; wildcards in a user name match only themselves.
TEST_F(ServerPageTest, FirstAndNextOfferOnlyTheUsersUncollectedTickets) {
    Ticket("A.1.1.0-ann", "one");
    Ticket("B.2.2.0-anna", "two");
    Ticket("C.3.3.0-ANN", "three");
    Ticket("D.4.4.0-ann", "four", false);
    Ticket("E.5.5.0", "five");
    Ticket("B.1.1.0-*", "star");
    auto ann = LoggedIn("ann");
    FileFindRecord found;
    ASSERT_TRUE(DecodeFileFind(ann->Request(EncodeEmpty(Request::FirstTicket), 280), found));
    EXPECT_EQ(found.attributes, kArchiveAttribute);
    EXPECT_EQ(found.size, std::string(found.name) == "A.1.1.0-ann" ? 3u : 5u);
    std::vector<std::string> offered = Offered(*ann);
    std::sort(offered.begin(), offered.end());
    EXPECT_THAT(offered, ElementsAre("A.1.1.0-ann", "C.3.3.0-ANN"));
    EXPECT_EQ(ann->Request(EncodeEmpty(Request::NextTicket), 280), std::string(280, '\0')); // stays closed

    server.Operators().Set(3, "*", "pw", kReadOnly);
    server.Operators().Set(4, "[a-z]nn", "pw", kReadOnly);
    EXPECT_THAT(Offered(*LoggedIn("*")), ElementsAre("B.1.1.0-*"));
    EXPECT_THAT(Offered(*LoggedIn("[a-z]nn")), IsEmpty());
}

TEST_F(ServerPageTest, FetchSendsAtMost4000BytesAndClearsTheMark) {
    std::string big(5000, 'x');
    big[3999] = 'L';
    Ticket("Big.1.1.0-ann", big);
    auto ann = LoggedIn("ann");
    EXPECT_EQ(ann->Request(EncodeFetchTicket("Big.1.1.0-ann"), 4 + 4000), "4000" + big.substr(0, 4000));
    EXPECT_EQ(ann->RecvFor(50), "");
    EXPECT_FALSE(HasUnreadMark(tc.dir.File("Tracking/Big.1.1.0-ann")));
    EXPECT_EQ(test::ReadFile(tc.dir.File("Tracking/Big.1.1.0-ann")), big);
    EXPECT_EQ(tc.console.trackingRefresh.load(), 1);
    Ticket("Big.1.1.0-ann", "new"); // rewritten, it is offered again
    EXPECT_THAT(Offered(*ann), ElementsAre("Big.1.1.0-ann"));
}

TEST_F(ServerPageTest, FetchRefusesNamesOutsideTheFolderAndOtherUsersTickets) {
    test::WriteFile(tc.dir.File("secret-ann"), "outside");
    Ticket("T.1.1.0-bob", "bob's");
    ASSERT_EQ(symlink(tc.dir.File("secret-ann").c_str(), tc.dir.File("Tracking/L-ann").c_str()), 0);
    auto ann = LoggedIn("ann");
    for (const char* name : {"../secret-ann", "..", ".", "sub/x-ann", "", "T.1.1.0-bob", "L-ann", "missing-ann"})
        EXPECT_EQ(ann->Request(EncodeFetchTicket(name), 4), "-1\r\n") << name;
    EXPECT_TRUE(HasUnreadMark(tc.dir.File("Tracking/T.1.1.0-bob")));
    EXPECT_EQ(ann->Request(EncodeEmpty(Request::Ping), 6), "PONG\r\n");
}

} // namespace
} // namespace brimlow::lan
