// Two brimlow processes on loopback: `--server --headless` over a filled data directory, and a headless client
// console that connects, downloads, polls and collects its ticket; then the command line as a client exports
// the server's directory and sends a page via the server. And the server process against a raw client.
#include "directory/csv.h"
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
#include <gtest/gtest.h>

namespace brimlow {
namespace {

using ::testing::HasSubstr;
using ::testing::SizeIs;
using ::testing::StartsWith;

constexpr const char* kTicket = "Unit 03.31337.5.1-ann";
constexpr const char* kTicketText = "0001\r\n960 31337 5 OK\r\nSun Dec  6 10:00:00 2026\r\nUnit 03\r\n1003\r\nHi\r\n";

// One console's places: its data directory and its settings folder.
struct Place {
    explicit Place(test::TempDir& root, const std::string& name)
        : data(root.File(name + "-data")), config(root.File(name + "-config")) {
        MakeFolder(data);
        MakeFolder(config);
        MakeFolder(config + "/Quillfen Labs");
    }
    void Settings(const std::string& options) {
        test::WriteFile(config + "/Quillfen Labs/Brimlow.conf", "[Options]\n" + options);
    }
    std::vector<std::string> Env(int port) const {
        return {"XDG_CONFIG_HOME=" + config, "BRIMLOW_LAN_PORT=" + std::to_string(port)};
    }
    std::string data;
    std::string config;
};

class LanEndToEndTest : public ::testing::Test {
protected:
    LanEndToEndTest() : server(root, "server"), client(root, "client") {
        std::unique_ptr<Directory> d = Directory::Create();
        d->companies[0] = test::MakeCompany("Metro", "127.0.0.1", test::UnusedPort());
        for (int k = 0; k < 12; ++k) {
            SubscriberRecord r = test::MakeSubscriber("Unit " + std::string(k < 10 ? "0" : "") + std::to_string(k), 0,
                                                      std::to_string(1000 + k));
            SetText(r.City, "City " + std::to_string(k));
            AddSubscriber(*d, r);
        }
        test::AddGroup(*d, "Odd units", {"Unit 01", "Unit 03"});
        SortSubscribers(*d);
        ModemSettings modem{};
        EXPECT_TRUE(SaveDirectoryFiles(server.data, *d, modem));
        EXPECT_TRUE(SaveCompanyFile(server.data, *d));
        OperatorTable accounts;
        accounts.Set(0, "ann", "pw", kReadWriteDelete);
        EXPECT_EQ(accounts.SaveOperators(server.data), 1);
        MakeFolder(server.data + "/" + kTrackingFolder);
        ticketOnServer = server.data + "/" + kTrackingFolder + "/" + kTicket;
        test::WriteFile(ticketOnServer, kTicketText);
        SetUnreadMark(ticketOnServer);
        server.Settings("");

        // The client's own directory: one local subscriber of its own company.
        std::unique_ptr<Directory> own = Directory::Create();
        own->companies[2] = test::MakeCompany("Own Co", "10.1.1.1", 444);
        AddSubscriber(*own, test::MakeSubscriber("Own Pager", 2, "777"));
        EXPECT_TRUE(SaveDirectoryFiles(client.data, *own, modem));
        EXPECT_TRUE(SaveCompanyFile(client.data, *own));
        client.Settings("NetworkEnabled=1\nServer=127.0.0.1\nUsername=ann\nPassword=pw\nSendAllViaServer=1\n");
        port = test::UnusedPort();
    }

    test::RunResult Export(const Place& place, const std::string& prefix, bool network) {
        std::vector<std::string> args = {"--data", place.data, "export"};
        if (network)
            args.push_back("--network");
        for (const char* table : {"companies", "subscribers", "groups"})
            args.insert(args.end(), {std::string("--") + table, root.File(prefix + "-" + table + ".csv")});
        return test::RunBrimlow(args, place.Env(port));
    }
    std::string Csv(const std::string& prefix, const std::string& table) {
        return test::ReadFile(root.File(prefix + "-" + table + ".csv"));
    }

    test::TempDir root;
    Place server;
    Place client;
    std::string ticketOnServer;
    int port = 0;
};

TEST_F(LanEndToEndTest, AHeadlessClientKeepsItsCopyOfTheServersDirectory) {
    test::BrimlowProcess serverProcess;
    ASSERT_TRUE(serverProcess.Start({"--data", server.data, "--server", "--headless"}, server.Env(port)));
    ASSERT_TRUE(serverProcess.WaitForOutput("running on")) << serverProcess.Output();

    test::BrimlowProcess clientProcess;
    ASSERT_TRUE(clientProcess.Start({"--data", client.data, "--headless"}, client.Env(port)));
    // Connected, logged in, downloaded, polling: its first scans collect the ticket the server holds for ann.
    ASSERT_TRUE(clientProcess.WaitForOutput(kTicket)) << clientProcess.Output() << serverProcess.Output();
    std::string ticketCopy = client.data + "/" + kTrackingFolder + "/" + kTicket;
    // The name is shown before the copy is written.
    ASSERT_TRUE(test::WaitFor([&] { return HasUnreadMark(ticketCopy); }));
    EXPECT_EQ(test::ReadFile(ticketCopy), kTicketText);
    EXPECT_FALSE(HasUnreadMark(ticketOnServer)); // collected: not offered again

    // A second client, the command line, downloads the same directory and exports its copy.
    test::RunResult exported = Export(client, "net", true);
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_THAT(exported.out, HasSubstr("Exported subscribers: 13"));
    test::RunResult local = Export(server, "local", false);
    ASSERT_EQ(local.status, 0) << local.err;
    EXPECT_EQ(Csv("net", "companies"), Csv("local", "companies"));
    EXPECT_EQ(Csv("net", "groups"), Csv("local", "groups"));
    std::string netSubscribers = Csv("net", "subscribers");
    EXPECT_THAT(netSubscribers, HasSubstr("\"Unit 11\""));
    EXPECT_THAT(netSubscribers, HasSubstr("\"City 11\""));
    std::string localSubscribers = Csv("local", "subscribers");
    EXPECT_EQ(std::count(netSubscribers.begin(), netSubscribers.end(), '\n'),
              std::count(localSubscribers.begin(), localSubscribers.end(), '\n'));

    // A page for a local entry of the client goes via the server into its queue for this client.
    test::RunResult sent = test::RunBrimlow({"--data", client.data, "send", "--mode", "page", "--to", "Own Pager",
                                             "--message", "Gas leak"},
                                            client.Env(port));
    EXPECT_EQ(sent.status, 0) << sent.out << sent.err;
    EXPECT_THAT(sent.out, HasSubstr("Message sent to server..."));
    std::vector<std::string> intake = test::ListDir(server.data + "/Queue/ann/2");
    ASSERT_THAT(intake, SizeIs(2));
    EXPECT_EQ(intake[0], "Company.dat");
    EXPECT_THAT(test::ReadFile(server.data + "/Queue/ann/2/" + intake[1]), HasSubstr("Gas leak"));

    // The server dies and comes back: the client gives the connection up, reconnects, reloads and collects
    // what has arrived meanwhile.
    serverProcess.Signal(SIGKILL);
    serverProcess.Wait();
    std::filesystem::remove_all(server.data + "/Queue"); // no modem here to dial the intake with
    const std::string second = "Unit 05.4.2.1-ann";
    test::WriteFile(server.data + "/" + kTrackingFolder + "/" + second, "0000\r\n");
    SetUnreadMark(server.data + "/" + kTrackingFolder + "/" + second);
    test::BrimlowProcess restarted;
    ASSERT_TRUE(restarted.Start({"--data", server.data, "--server", "--headless"}, server.Env(port)));
    ASSERT_TRUE(clientProcess.WaitForOutput(second)) << clientProcess.Output();
    EXPECT_THAT(test::ReadFile(client.data + "/Network.log"), HasSubstr("Network connection aborted!"));

    // The client dies without a word; the server carries on and closes in order.
    clientProcess.Signal(SIGKILL);
    clientProcess.Wait();
    restarted.Signal(SIGTERM);
    EXPECT_EQ(restarted.Wait(), 0) << restarted.Output();
}

TEST_F(LanEndToEndTest, TheServerProcessAnswersARawClientAndEndsItsSessionsOnSigterm) {
    test::BrimlowProcess serverProcess;
    ASSERT_TRUE(serverProcess.Start({"--data", server.data, "--server", "--headless"}, server.Env(port)));
    ASSERT_TRUE(serverProcess.WaitForOutput("running on")) << serverProcess.Output();
    std::unique_ptr<test::RawClient> raw; // the console says it runs a moment before it listens
    test::WaitFor([&] { return !(raw = std::make_unique<test::RawClient>(port))->Greeting().empty(); });
    ASSERT_EQ(raw->Greeting(), "Network Session Started for 127.0.0.1\r\n");

    client.Settings("NetworkEnabled=1\nServer=127.0.0.1\nUsername=ann\nPassword=nope\n");
    test::RunResult exported = Export(client, "net", true);
    EXPECT_NE(exported.status, 0);
    EXPECT_THAT(exported.err, HasSubstr("cannot download the directory of the server"));
    EXPECT_FALSE(test::FileExists(root.File("net-subscribers.csv")));

    EXPECT_EQ(raw->Request(lan::EncodeLogin("ANN", "pw"), 3), "1\r\n");
    EXPECT_EQ(raw->Request(lan::EncodeEmpty(lan::Request::SecurityLevel), 3), "2\r\n");
    const std::string unit00 =
        "060\"Unit 00\",\"1000\",\"0\",\"0\",\"\",\"\",\"City 0\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"";
    EXPECT_EQ(raw->Request(lan::EncodeIndex(lan::Request::ReadCustomer, 1), unit00.size()), unit00);
    EXPECT_EQ(raw->Request(lan::EncodeIndex(lan::Request::LockRecord, 1), 3), "1\r\n");
    SubscriberRecord edited = test::MakeSubscriber("Unit 00", 0, "1000");
    SetText(edited.City, "Edited over the LAN");
    EXPECT_EQ(raw->Request(lan::EncodeWriteCustomer(1, edited), 3), "1\r\n");
    EXPECT_EQ(raw->Request(lan::EncodeIndex(lan::Request::LockRecord, 2), 3), "1\r\n");
    // Pages in delivery to a provider that never answers, and more waiting for a worker.
    test::SilentPort silent;
    CompanyRecord company = test::MakeCompany("Silent", "127.0.0.1", silent.Port());
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(raw->Request(lan::EncodeClientPage(lan::kPageSnpp, "ann", "", "x", company,
                                                     test::MakeSubscriber("Far", 0, "1")),
                               3),
                  "1\r\n");

    // The tables are saved first; the jobs get the grace, and the console ends however they fare.
    auto start = std::chrono::steady_clock::now();
    serverProcess.Signal(SIGTERM);
    EXPECT_TRUE(raw->WaitClosed());
    EXPECT_EQ(serverProcess.Wait(), 0) << serverProcess.Output();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(test::ReadFile(server.data + "/Operators.dat").size(), 6400u);
    auto saved = Directory::Create(); // the locks lived in memory only
    ModemSettings modem{};
    LoadDirectoryFiles(server.data, *saved, modem);
    EXPECT_EQ(saved->subscribers[1].LockByte + saved->subscribers[2].LockByte, 0);
    EXPECT_EQ(GetText(saved->subscribers[1].City), "Edited over the LAN");
}

} // namespace
} // namespace brimlow
