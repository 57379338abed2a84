// Pages and tickets of raw clients (the console's own client sends and collects them in net_client_test).
#include "queue/file_listing.h"
#include "tests/server_fixture.h"
#include "tests/support/peer_process.h"
#include "tracking/unread_mark.h"
#include "transports/smtp.h"

#include <gmock/gmock.h>
#include <unistd.h>

namespace brimlow::lan {
namespace {

// aiosmtpd as the mail server: a Server Page goes to the server's subscriber, a Client Page to the one it carries.
TEST_F(ServerTest, PagesByEmailAreDeliveredThroughTheMailServer) {
    Fill(1);
    Local([](Directory& d) { SetText(d.subscribers[0].Email, "pager@example.net"); });
    std::string mail = tc.dir.File("mail");
    test::PeerProcess smtp(test::SmtpSinkCommand(mail));
    setenv(kSmtpPortVariable, std::to_string(smtp.Port()).c_str(), 1);
    tc.console.settings.Update(
        [](Settings& s) { s.ReturnAddress = "desk@example.com", s.OutboundMailServer = "127.0.0.1"; });
    auto ann = LoggedIn("ann");
    EXPECT_EQ(ann->Request(EncodeServerPage(0, kPageEmail, "Drill", "Mail text"), 3), "1\r\n");
    ASSERT_TRUE(PagesDone());
    SubscriberRecord carried = test::MakeSubscriber("Remote", 4, "8889");
    SetText(carried.Email, "remote@example.org");
    EXPECT_EQ(ann->Request(EncodeClientPage(kPageEmail, "ann", "Subj", "Body", CompanyRecord{}, carried), 3), "1\r\n");
    ASSERT_TRUE(PagesDone());
    EXPECT_EQ(test::ReadFile(mail + "/1.env"), "FROM desk@example.com\nTO pager@example.net\n");
    EXPECT_THAT(test::ReadFile(mail + "/1.eml"), ::testing::ContainsRegex("Subject: Drill\r\n(.|\r|\n)*Mail text"));
    EXPECT_EQ(test::ReadFile(mail + "/2.env"), "FROM desk@example.com\nTO remote@example.org\n");
    unsetenv(kSmtpPortVariable);
}

// Pages need no write level; names, companies, slots and types that point nowhere deliver nothing anywhere. A user
// is offered and fetches only its own tickets, whatever wildcards its name holds.
TEST_F(ServerTest, PagesAndTicketsThatPointOutsideReachNothingThere) {
    Fill(1);
    CompanyRecord company = test::MakeCompany("Client Co", "", 444);
    SubscriberRecord sub = test::MakeSubscriber("Remote", 4, "8889");
    auto carl = LoggedIn("carl");
    for (const char* user : {"..", ".", "", "../../etc"})
        EXPECT_EQ(carl->Request(EncodeClientPage(kPageModem, user, "", "x", company, sub), 3), "1\r\n") << user;
    for (int number : {100, -3}) {
        sub.Company = number;
        EXPECT_EQ(carl->Request(EncodeClientPage(kPageModem, "carl", "", "x", company, sub), 3), "1\r\n") << number;
    }
    for (auto [slot, type] : {std::pair{2000, kPageModem}, {-5, kPageModem}, {1, kPageModem}, {0, 9}})
        EXPECT_EQ(carl->Request(EncodeServerPage(slot, type, "", "x"), 3), "1\r\n") << slot;
    ASSERT_TRUE(PagesDone());
    EXPECT_THAT(test::ListDir(tc.dir.File("Queue")), ::testing::ElementsAre(".. .. etc"));
    EXPECT_FALSE(test::FileExists(tc.dir.File("4")));
    EXPECT_TRUE(test::ListDir(tc.dir.File("0")).empty());
    MakeFolder(tc.dir.File("Tracking"));
    for (const std::string name : {"A.1.1.0-ann", "T.1.1.0-bob", "B.1.1.0-*"}) {
        test::WriteFile(tc.dir.File("Tracking/" + name), name);
        SetUnreadMark(tc.dir.File("Tracking/" + name));
    }
    test::WriteFile(tc.dir.File("secret-ann"), "outside");
    ASSERT_EQ(symlink(tc.dir.File("secret-ann").c_str(), tc.dir.File("Tracking/L-ann").c_str()), 0);
    server.Operators().Set(3, "*", "pw", kReadOnly);
    server.Operators().Set(4, "[a-z]nn", "pw", kReadOnly);
    for (auto [user, offered] : {std::pair{"ann", "A.1.1.0-ann"}, {"*", "B.1.1.0-*"}, {"[a-z]nn", ""}}) {
        auto client = LoggedIn(user);
        FileFindRecord found;
        DecodeFileFind(client->Request(EncodeEmpty(Request::FirstTicket), 280), found);
        EXPECT_EQ(std::string(found.name), offered) << user;
        EXPECT_EQ(found.attributes, *offered ? kArchiveAttribute : 0) << user;
        EXPECT_EQ(client->Request(EncodeEmpty(Request::NextTicket), 280), std::string(280, '\0')) << user;
    }
    auto ann = LoggedIn("ann");
    for (const char* name : {"../secret-ann", "..", ".", "sub/x-ann", "", "T.1.1.0-bob", "L-ann", "missing-ann"})
        EXPECT_EQ(ann->Request(EncodeFetchTicket(name), 4), "-1\r\n") << name;
}

} // namespace
} // namespace brimlow::lan
