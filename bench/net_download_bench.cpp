// A client's login and full download from a server over loopback: 2,000 subscribers, 199 groups of 200
// members, 100 companies (target: below 0.5 s).
#include "network/net_client.h"
#include "network/server.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace brimlow {
namespace {

struct FullServer {
    FullServer() : server(host) {
        char templ[] = "/tmp/brimlow-bench-XXXXXX";
        dataDir = mkdtemp(templ) ? templ : "/tmp";
        host.dataDir = dataDir + "/server";
        client.dataDir = dataDir + "/client";
        std::filesystem::create_directories(host.dataDir);
        std::filesystem::create_directories(client.dataDir);
        Directory& d = *host.local;
        char text[96];
        for (int c = 0; c < kCompanySlots; ++c) {
            snprintf(text, sizeof text, "Company %03d", c);
            SetText(d.companies[c].Name, text);
            SetText(d.companies[c].Address, "10.0.0.1");
            d.companies[c].Socket = 444;
        }
        // 1,801 subscribers and 199 group entries fill the table; each group names 200 of the subscribers.
        for (int s = 0; s < kSubscriberSlots - (kGroupSlots - 1); ++s) {
            SubscriberRecord& r = d.subscribers[s];
            snprintf(text, sizeof text, "Subscriber %04d", s);
            SetText(r.Name, text);
            SetText(r.PIN, std::to_string(100000 + s));
            SetText(r.City, "Springfield");
            SetText(r.Email, std::string(text) + "@example.net");
            r.Company = s % kCompanySlots;
        }
        for (int g = 1; g < kGroupSlots; ++g) {
            SubscriberRecord& entry = d.subscribers[kSubscriberSlots - kGroupSlots + g];
            snprintf(text, sizeof text, "Group %03d", g);
            SetText(entry.Name, text);
            entry.Company = -g;
            for (int m = 0; m < kGroupMembers; ++m) {
                snprintf(text, sizeof text, "Subscriber %04d", (g * 7 + m) % 1801);
                SetText(d.groups[g].Members[m], text);
            }
        }
        SortSubscribers(d);
        server.Operators().Set(0, "ann", "pw", 2);
        started = server.Start(0);
        client.settings.Update([](Settings& s) {
            s.NetworkEnabled = 1;
            s.Server = "127.0.0.1";
            s.Username = "ann";
            s.Password = "pw";
        });
    }
    ~FullServer() {
        server.Stop();
        std::error_code ec;
        std::filesystem::remove_all(dataDir, ec);
    }

    std::string dataDir;
    Console host;
    Console client;
    lan::NetServer server;
    bool started = false;
};

void BM_FullDownload(benchmark::State& state) {
    static FullServer full;
    if (!full.started) {
        state.SkipWithError("the server could not start");
        return;
    }
    for (auto _ : state) {
        NetClient client(full.client);
        client.SetPort(full.server.Port());
        if (client.SyncWithServer() != 1 || UsedSubscriberSlots(*full.client.network) != kSubscriberSlots) {
            state.SkipWithError("the download failed");
            return;
        }
    }
    state.counters["subscribers"] = UsedSubscriberSlots(*full.client.network);
}
BENCHMARK(BM_FullDownload)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace brimlow

BENCHMARK_MAIN();
