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
#include <sys/stat.h>
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
        tc.console.settings.Update([](Settings& s) {
            s.ReturnAddress = "desk@example.com";
            s.OutboundMailServer = "127.0.0.1";
        });
    }
    void TearDown() override { unsetenv(kSmtpPortVariable); }

    // aiosmtpd storing into folder, as the console's mail server.
    std::unique_ptr<test::PeerProcess> MailSink(const std::string& folder) {
        MakeFolder(folder);
        auto sink = std::make_unique<test::PeerProcess>(
            std::vector<std::string>{"/usr/bin/python3", test::PeerScript("smtp_sink.py"), folder});
        setenv(kSmtpPortVariable, std::to_string(sink->Port()).c_str(), 1);
        return sink;
    }

    std::vector<std::string> Tickets() { return test::ListDir(tc.dir.File("Tracking")); }
    void Ticket(const std::string& name, const std::string& content, bool unread = true) {
        std::string path = tc.dir.File("Tracking/" + name);
        test::WriteFile(path, content);
        if (unread)
            SetUnreadMark(path);
        else
            ClearUnreadMark(path);
    }
    std::vector<std::string> Offered(RawClient& client) {
        std::vector<std::string> names;
        FileFindRecord record;
        DecodeFileFind(client.Request(EncodeEmpty(Request::FirstTicket), 280), record);
        while (record.name[0]) {
            names.push_back(record.name);
            DecodeFileFind(client.Request(EncodeEmpty(Request::NextTicket), 280), record);
        }
        return names;
    }
};

// A Server Page goes to the company of the server's subscriber, a Client Page to the company it carries.
TEST_F(ServerPageTest, PagesBySnppGoToTheirCompanies) {
    test::SnppSimulator snpp(test::SnppScript{});
    Edit([&](Directory& d) { d.companies[0] = test::MakeCompany("Acme", "127.0.0.1", snpp.Port()); });
    CompanyRecord carried = test::MakeCompany("Client Co", "127.0.0.1", snpp.Port());
    carried.TwoWay = 1;
    auto bob = LoggedIn("bob");
    EXPECT_EQ(bob->Request(EncodeServerPage(0, kPageSnpp, "", "Fire drill"), 3), "1\r\n");
    ASSERT_TRUE(WaitFor([&] { return snpp.Messages().size() == 1; }));
    ASSERT_TRUE(PagesDone());
    SubscriberRecord remote = test::MakeSubscriber("Remote", 4, "8889");
    EXPECT_EQ(bob->Request(EncodeClientPage(kPageSnpp, "bob", "", "From afar", carried, remote), 3), "1\r\n");
    ASSERT_TRUE(WaitFor([&] { return snpp.Messages().size() == 2; }));
    ASSERT_TRUE(PagesDone());
    EXPECT_THAT(snpp.Commands(),
                ElementsAre("PAGE 5551234", "DATA", "SEND", "QUIT", "2WAY", "PAGE 8889", "DATA", "SEND", "QUIT"));
    EXPECT_THAT(snpp.Messages(), ElementsAre("Fire drill\n", "From afar\n"));
    EXPECT_EQ(tc.console.sentPages.load(), 2);
    EXPECT_THAT(Tickets(), ElementsAre("Remote.31337.5-127.0.0.1-" + std::to_string(snpp.Port()) + "-bob"));
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

TEST_F(ServerPageTest, PagesByEmailAreDeliveredThroughTheMailServer) {
    std::string mail = tc.dir.File("mail");
    auto smtp = MailSink(mail);
    ASSERT_GT(smtp->Port(), 0);
    auto ann = LoggedIn("ann");
    EXPECT_EQ(ann->Request(EncodeServerPage(0, kPageEmail, "Drill", "Mail text"), 3), "1\r\n");
    ASSERT_TRUE(WaitFor([&] { return test::FileExists(mail + "/1.eml"); }));
    ASSERT_TRUE(PagesDone());
    EXPECT_EQ(test::ReadFile(mail + "/1.env"), "FROM desk@example.com\nTO pager@example.net\n");
    std::string message = test::ReadFile(mail + "/1.eml");
    EXPECT_THAT(message, HasSubstr("Subject: Drill\r\n"));
    EXPECT_THAT(message, HasSubstr("Mail text"));

    SubscriberRecord carried = test::MakeSubscriber("Remote", 4, "8889");
    SetText(carried.Email, "remote@example.org");
    EXPECT_EQ(ann->Request(EncodeClientPage(kPageEmail, "ann", "Subj", "Body", CompanyRecord{}, carried), 3), "1\r\n");
    ASSERT_TRUE(WaitFor([&] { return test::FileExists(mail + "/2.eml"); }));
    ASSERT_TRUE(PagesDone());
    EXPECT_EQ(test::ReadFile(mail + "/2.env"), "FROM desk@example.com\nTO remote@example.org\n");
}

TEST_F(ServerPageTest, ClientPageForTheModemGoesIntoTheQueueFolderOfTheUser) {
    CompanyRecord company = test::MakeCompany("Client Co", "", 444);
    SetText(company.Phone, "5550000");
    SubscriberRecord sub = test::MakeSubscriber("Remote", 4, "8889");
    auto bob = LoggedIn("bob");
    EXPECT_EQ(bob->Request(EncodeClientPage(kPageModem, "bob", "", "Dial me", company, sub), 3), "1\r\n");
    ASSERT_TRUE(PagesDone());
    std::string folder = tc.dir.File("Queue/bob/4");
    EXPECT_EQ(test::ReadFile(folder + "/Company.dat"),
              std::string(reinterpret_cast<const char*>(&company), sizeof company));
    std::vector<std::string> files = test::ListDir(folder);
    ASSERT_EQ(files.size(), 2u);
    std::string message = test::ReadFile(folder + "/" + (files[0] == "Company.dat" ? files[1] : files[0]));
    EXPECT_EQ(message.substr(sizeof sub), "Dial me");

    // User names that would leave the Queue folder are refused or made harmless, and the next page still goes.
    for (const char* user : {"..", ".", "", "../../etc"}) {
        EXPECT_EQ(bob->Request(EncodeClientPage(kPageModem, user, "", "x", company, sub), 3), "1\r\n");
        ASSERT_TRUE(PagesDone());
    }
    EXPECT_THAT(test::ListDir(tc.dir.File("Queue")), ElementsAre(".. .. etc", "bob"));
    EXPECT_FALSE(test::FileExists(tc.dir.File("4")));
    sub.Company = 100; // no such folder number
    EXPECT_EQ(bob->Request(EncodeClientPage(kPageModem, "bob", "", "x", company, sub), 3), "1\r\n");
    ASSERT_TRUE(PagesDone());
    EXPECT_THAT(test::ListDir(tc.dir.File("Queue/bob")), ElementsAre("4"));
}

TEST_F(ServerPageTest, FirstAndNextOfferOnlyTheUsersUncollectedTickets) {
    Ticket("A.1.1.0-ann", "one");
    Ticket("B.2.2.0-anna", "two");
    Ticket("C.3.3.0-ANN", "three");
    Ticket("D.4.4.0-ann", "four", false);
    Ticket("E.5.5.0", "five");
    auto ann = LoggedIn("ann");
    FileFindRecord found;
    ASSERT_TRUE(DecodeFileFind(ann->Request(EncodeEmpty(Request::FirstTicket), 280), found));
    EXPECT_EQ(found.attributes, kArchiveAttribute);
    EXPECT_EQ(found.size, std::string(found.name) == "A.1.1.0-ann" ? 3u : 5u);
    std::vector<std::string> offered = Offered(*ann);
    std::sort(offered.begin(), offered.end());
    EXPECT_THAT(offered, ElementsAre("A.1.1.0-ann", "C.3.3.0-ANN"));
    // Past the end the search stays closed.
    EXPECT_EQ(ann->Request(EncodeEmpty(Request::NextTicket), 280), std::string(280, '\0'));

    // Wildcards in a user name match only themselves.
    server.Operators().Set(3, "*", "pw", kReadOnly);
    server.Operators().Set(4, "[a-z]nn", "pw", kReadOnly);
    Ticket("B.1.1.0-*", "star");
    auto star = LoggedIn("*");
    EXPECT_THAT(Offered(*star), ElementsAre("B.1.1.0-*"));
    auto range = LoggedIn("[a-z]nn");
    EXPECT_THAT(Offered(*range), IsEmpty());
}

TEST_F(ServerPageTest, FetchSendsAtMost4000BytesAndClearsTheMark) {
    std::string big(5000, 'x');
    big[3999] = 'L';
    Ticket("Big.1.1.0-ann", big);
    auto ann = LoggedIn("ann");
    EXPECT_EQ(ann->Request(EncodeFetchTicket("Big.1.1.0-ann"), 4), "4000");
    std::string bytes = ann->Recv(4000);
    EXPECT_EQ(bytes.size(), 4000u);
    EXPECT_EQ(bytes.back(), 'L');
    EXPECT_EQ(ann->RecvFor(50), "");
    EXPECT_FALSE(HasUnreadMark(tc.dir.File("Tracking/Big.1.1.0-ann")));
    EXPECT_EQ(test::ReadFile(tc.dir.File("Tracking/Big.1.1.0-ann")), big);
    EXPECT_EQ(tc.console.trackingRefresh.load(), 1);
    // Rewritten, it is offered again.
    Ticket("Big.1.1.0-ann", "new");
    EXPECT_THAT(Offered(*ann), ElementsAre("Big.1.1.0-ann"));
}

TEST_F(ServerPageTest, FetchRefusesNamesOutsideTheFolderAndOtherUsersTickets) {
    test::WriteFile(tc.dir.File("secret-ann"), "outside");
    Ticket("T.1.1.0-bob", "bob's");
    ASSERT_EQ(symlink(tc.dir.File("secret-ann").c_str(), tc.dir.File("Tracking/L-ann").c_str()), 0);
    auto ann = LoggedIn("ann");
    for (const std::string& name : {std::string("../secret-ann"), std::string(".."), std::string("."),
                                    std::string("sub/x-ann"), std::string(""), std::string("T.1.1.0-bob"),
                                    std::string("L-ann"), std::string("missing-ann")}) {
        EXPECT_EQ(ann->Request(EncodeFetchTicket(name), 4), "-1\r\n") << name;
    }
    EXPECT_TRUE(HasUnreadMark(tc.dir.File("Tracking/T.1.1.0-bob")));
    EXPECT_EQ(ann->Request(EncodeEmpty(Request::Ping), 6), "PONG\r\n");
}

} // namespace
} // namespace brimlow::lan
