#pragma once
// A client console for the LAN tests: its own data directory, networking on, its client of the server on a
// loopback port, and the comparison of its network copy with the server's directory.
#include "directory/data_files.h"
#include "network/net_client.h"
#include "queue/file_listing.h"
#include "tests/support/test_console.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace brimlow::test {

struct ClientConsole {
    ClientConsole(int port, const std::string& user, const std::string& password, NetClientTimings timings = {}) {
        MakeFolder(tc.dir.File(kTrackingFolder));
        tc.console.settings.Update([&](Settings& s) {
            s.NetworkEnabled = 1;
            s.Server = "127.0.0.1";
            s.Username = user;
            s.Password = password;
        });
        client = std::make_shared<NetClient>(tc.console, timings);
        client->SetPort(port);
        tc.console.netClient = client;
    }
    Directory& Net() { return *tc.console.network; }

    // The copy holds every record of the server's directory; its entries belong to the Network tab (a free
    // slot's tab means nothing) and no lock travels.
    void ExpectCopyOf(const Directory& server) {
        for (int s = 0; s < kSubscriberSlots; ++s) {
            SubscriberRecord want = server.subscribers[s];
            want.Tab = IsEmptyText(want.Name) ? Net().subscribers[s].Tab : kNetworkTab;
            want.LockByte = 0;
            ASSERT_EQ(memcmp(&Net().subscribers[s], &want, sizeof want), 0) << s;
        }
        EXPECT_EQ(memcmp(Net().groups.data(), server.groups.data(), sizeof server.groups), 0);
        EXPECT_EQ(memcmp(Net().companies.data(), server.companies.data(), sizeof server.companies), 0);
    }

    TestConsole tc;
    std::shared_ptr<NetClient> client;
};

} // namespace brimlow::test
