// The console started in the server role serves the LAN from its data directory and shuts the LAN down in
// order.
#include "directory/data_files.h"
#include "network/operators.h"
#include "network/protocol.h"
#include "tests/lan_raw_client.h"
#include "tests/support/line_peer.h"
#include "tests/support/test_console.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>

namespace brimlow::lan {
namespace {

TEST(ServerRole, HeadlessServerServesTheLanAndEndsItsSessionsOnSigterm) {
    test::TempDir data, config;
    {
        auto dir = Directory::Create();
        ModemSettings modem{};
        dir->subscribers[0] = test::MakeSubscriber("Ann", 2, "");
        ASSERT_EQ(SaveDirectoryFiles(data.Path(), *dir, modem), 1);
        OperatorTable accounts;
        accounts.Set(0, "desk", "secret", kReadWrite);
        ASSERT_EQ(accounts.SaveOperators(data.Path()), 1);
    }
    int port = test::UnusedPort();
    test::BrimlowProcess console;
    ASSERT_TRUE(console.Start({"--data", data.Path(), "--server", "--headless"},
                              {"XDG_CONFIG_HOME=" + config.Path(), "BRIMLOW_LAN_PORT=" + std::to_string(port)}));
    ASSERT_TRUE(console.WaitForOutput("running on")) << console.Output();

    std::unique_ptr<test::RawClient> client;
    for (int attempt = 0; attempt < 200; ++attempt) {
        client = std::make_unique<test::RawClient>(port);
        if (client->Connected() && !client->Greeting().empty())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_EQ(client->Greeting(), "Network Session Started for 127.0.0.1\r\n");
    EXPECT_EQ(client->Request(EncodeLogin("DESK", "secret"), 3), "1\r\n");
    EXPECT_EQ(client->Request(EncodeEmpty(Request::SecurityLevel), 3), "1\r\n");
    EXPECT_EQ(client->Request(EncodeIndex(Request::ReadCustomer, 0), 49),
              "046\"Ann\",\"\",\"2\",\"0\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"");
    EXPECT_EQ(client->Request(EncodeIndex(Request::LockRecord, 0), 3), "1\r\n");

    console.Signal(SIGTERM);
    EXPECT_TRUE(client->WaitClosed());
    EXPECT_EQ(console.Wait(), 0) << console.Output();
    EXPECT_EQ(test::ReadFile(data.File("Operators.dat")).size(), 6400u);
    // The lock lived in memory only.
    auto saved = Directory::Create();
    ModemSettings modem{};
    LoadDirectoryFiles(data.Path(), *saved, modem);
    EXPECT_EQ(saved->subscribers[0].LockByte, 0);
    EXPECT_EQ(GetText(saved->subscribers[0].Name), "Ann");
}

} // namespace
} // namespace brimlow::lan
