// A client's login and full download from a server over loopback: 2,000 subscribers, 199 groups of 200
// members, 100 companies (target: below 0.5 s).
#include "bench/full_directory.h"
#include "network/net_client.h"
#include "network/server.h"

#include <benchmark/benchmark.h>
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
        bench::FillFullDirectory(*host.local);
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
