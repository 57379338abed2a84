// brimlow processes on loopback: a server, a headless client and the command line as a client, then SIGTERM.
#include "directory/data_files.h"
#include "network/operators.h"
#include "network/protocol.h"
#include "queue/file_listing.h"
#include "tests/lan_raw_client.h"
#include "tests/support/line_peer.h"
#include "tests/support/test_console.h"
#include "tracking/unread_mark.h"

#include <csignal>
#include <filesystem>
#include <gmock/gmock.h>

namespace brimlow {
namespace {

using ::testing::HasSubstr;

// One console's places, its data directory with the tables of d and its settings folder with options.
struct Place {
    Place(test::TempDir& root, const std::string& name, Directory& d, const std::string& options)
        : data(root.File(name + "-data")), config(root.File(name + "-config")) {
        std::filesystem::create_directories(data);
        std::filesystem::create_directories(config + "/Quillfen Labs");
        test::WriteFile(config + "/Quillfen Labs/Brimlow.conf", "[Options]\n" + options);
        ModemSettings modem{};
        EXPECT_TRUE(SaveDirectoryFiles(data, d, modem) && SaveCompanyFile(data, d));
    }
    std::vector<std::string> Env(int port) const {
        return {"XDG_CONFIG_HOME=" + config, "BRIMLOW_LAN_PORT=" + std::to_string(port)};
    }
    std::string data, config;
};

TEST(LanEndToEndTest, AHeadlessClientKeepsItsCopyOfTheServersDirectory) {
    test::TempDir root;
    const int port = test::UnusedPort();
    std::unique_ptr<Directory> d = Directory::Create();
    d->companies[0] = test::MakeCompany("Metro", "127.0.0.1", test::UnusedPort());
    for (const char* name : {"Unit 00", "Unit 03"})
        AddSubscriber(*d, test::MakeSubscriber(name, 0, "1"));
    Place server(root, "server", *d, "");
    std::unique_ptr<Directory> own = Directory::Create(); // the client's own: one subscriber of its own company
    own->companies[2] = test::MakeCompany("Own Co", "10.1.1.1", 444);
    AddSubscriber(*own, test::MakeSubscriber("Own Pager", 2, "777"));
    Place client(root, "client", *own,
                 "NetworkEnabled=1\nServer=127.0.0.1\nUsername=ann\nPassword=pw\nSendAllViaServer=1\n");
    OperatorTable accounts;
    accounts.Set(0, "ann", "pw", kReadWriteDelete);
    EXPECT_EQ(accounts.SaveOperators(server.data), 1);
    const std::string ticketText = "0001\r\n960 31337 5 OK\r\nSun Dec  6 10:00:00 2026\r\nUnit 03\r\n1003\r\nHi\r\n";
    const std::string ticket = std::string(kTrackingFolder) + "/Unit 03.31337.5.1-ann";
    MakeFolder(server.data + "/" + kTrackingFolder);
    test::WriteFile(server.data + "/" + ticket, ticketText);
    SetUnreadMark(server.data + "/" + ticket);
    test::BrimlowProcess serverProcess;
    ASSERT_TRUE(serverProcess.Start({"--data", server.data, "--server", "--headless"}, server.Env(port)));
    ASSERT_TRUE(serverProcess.WaitForOutput("running on")) << serverProcess.Output();
    test::BrimlowProcess clientProcess;
    ASSERT_TRUE(clientProcess.Start({"--data", client.data, "--headless"}, client.Env(port)));
    // Connected, logged in, downloaded, polling: its first scans collect the ticket the server holds for ann.
    ASSERT_TRUE(clientProcess.WaitForOutput("Unit 03.31337.5.1-ann")) << clientProcess.Output();
    ASSERT_TRUE(test::WaitFor([&] { return HasUnreadMark(client.data + "/" + ticket); })); // shown before written
    EXPECT_EQ(test::ReadFile(client.data + "/" + ticket), ticketText);
    EXPECT_FALSE(HasUnreadMark(server.data + "/" + ticket)); // collected: not offered again
    // The command line as a client exports the network copy (its own holds one entry) and pages via the server.
    test::RunResult exported =
        test::RunBrimlow({"--data", client.data, "export", "--network", "--companies", root.File("c.csv"),
                          "--subscribers", root.File("s.csv"), "--groups", root.File("g.csv")},
                         client.Env(port));
    EXPECT_EQ(exported.status, 0) << exported.err;
    EXPECT_THAT(exported.out, HasSubstr("Exported subscribers: 2"));
    EXPECT_THAT(test::ReadFile(root.File("s.csv")), HasSubstr("\"Unit 03\",\"1\",\"0\",\"3\","));
    test::RunResult sent = test::RunBrimlow(
        {"--data", client.data, "send", "--mode", "page", "--to", "Own Pager", "--message", "Gas leak"},
        client.Env(port));
    EXPECT_EQ(sent.status, 0) << sent.out << sent.err;
    EXPECT_THAT(sent.out, HasSubstr("Message sent to server..."));
    std::vector<std::string> intake = test::ListDir(server.data + "/Queue/ann/2"); // the company, then the page
    ASSERT_THAT(intake, ::testing::ElementsAre("Company.dat", ::testing::StartsWith("MSG")));
    EXPECT_EQ(test::ReadFile(server.data + "/Queue/ann/2/Company.dat"), test::RecordBytes(own->companies[2]));
    EXPECT_EQ(test::ReadFile(server.data + "/Queue/ann/2/" + intake[1]).substr(sizeof(SubscriberRecord)), "Gas leak");
    clientProcess.Signal(SIGKILL); // without a word: the server carries on
    // SIGTERM with pages in delivery to a provider that never answers: saved, and ended however they fare.
    test::RawClient raw(port);
    EXPECT_EQ(raw.Request(lan::EncodeLogin("ANN", "pw"), 3), "1\r\n");
    test::LinePeer silent([](test::PeerSession& s) { s.WaitClosed(); });
    CompanyRecord company = test::MakeCompany("Silent", "127.0.0.1", silent.Port());
    const std::string page = lan::EncodeClientPage(lan::kPageSnpp, "ann", "", "x", company, own->subscribers[0]);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(raw.Request(page, 3), "1\r\n");
    auto start = std::chrono::steady_clock::now();
    serverProcess.Signal(SIGTERM);
    EXPECT_TRUE(raw.WaitClosed());
    EXPECT_EQ(serverProcess.Wait(), 0) << serverProcess.Output();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(test::ReadFile(server.data + "/Operators.dat").size(), 6400u); // saved at the end, as the tables are
}

} // namespace
} // namespace brimlow
