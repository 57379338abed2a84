#pragma once
// A server on a free loopback port over a test console, with three accounts: ann (level 2), bob (1), carl (0).
#include "network/server.h"
#include "tests/lan_raw_client.h"
#include "tests/support/test_console.h"

#include <gtest/gtest.h>
#include <memory>

namespace brimlow::lan {

using test::WaitFor;

// Short waits; idleMs ends a silent session, and a connection that has not logged in, after so long.
inline ServerTimings FastTimings(int idleMs = 60000, PageJobLimits jobs = {}) {
    ServerTimings t;
    t.receiveTimeoutMs = 50;
    t.idleLimitMs = t.loginDeadlineMs = idleMs;
    t.handoffPollMs = 5;
    t.pageJobs = jobs;
    return t;
}

class ServerTest : public ::testing::Test {
protected:
    explicit ServerTest(ServerTimings timings = FastTimings()) : server(tc.console, timings) {
        server.Operators().Set(0, "ann", "pw", kReadWriteDelete);
        server.Operators().Set(1, "bob", "pw", kReadWrite);
        server.Operators().Set(2, "carl", "pw", kReadOnly);
    }
    void SetUp() override { ASSERT_TRUE(server.Start(0)); }
    std::unique_ptr<test::RawClient> LoggedIn(const std::string& user) {
        auto client = std::make_unique<test::RawClient>(server.Port());
        EXPECT_EQ(client->Request(EncodeLogin(user, "pw"), 3), "1\r\n") << user;
        return client;
    }
    // The local operator's reads and edits take "DatabaseLock", as the window does.
    template <typename F> auto Local(F use) {
        std::lock_guard lock(tc.console.databaseLock);
        return use(*tc.console.local);
    }
    // Slots 0..n-1 hold "Name 0000".. in sorted order, the rest is free.
    void Fill(int n) {
        Local([n](Directory& d) {
            d.subscribers.fill({});
            for (int k = 0; k < n; ++k)
                d.subscribers[k] = test::MakeSubscriber("Name " + std::to_string(10000 + k).substr(1), 0);
        });
    }
    bool PagesDone() {
        return WaitFor([&] { return server.PagesInFlight() == 0; }, 30000);
    }
    std::string CheckCust(test::RawClient& client) { return client.Request(EncodeEmpty(Request::CheckCust), 250); }
    std::string CheckGroup(test::RawClient& client) { return client.Request(EncodeEmpty(Request::CheckGroup), 25); }
    test::TestConsole tc;
    NetServer server;
};

} // namespace brimlow::lan
