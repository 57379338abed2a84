// Server load: 100 clients that poll with Check Cust and Check Group every 2 seconds, as every client console
// does while it runs (target: below 5% of one core), and the round trip of one Read Customer.
#include "bench/server_process.h"
#include "tests/lan_raw_client.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace brimlow {
namespace {

using namespace std::chrono;
using namespace bench;

constexpr int kClients = 100;
constexpr int kPollPeriodMs = 2000;

void FillDirectory(Directory& d) {
    char name[32];
    for (int s = 0; s < 1500; ++s) {
        snprintf(name, sizeof name, "Subscriber %04d", s);
        SetText(d.subscribers[s].Name, name);
        SetText(d.subscribers[s].PIN, std::to_string(100000 + s));
    }
}

void BM_ServerCpuWith100PollingClients(benchmark::State& state) {
    ServerProcess server(FillDirectory);
    const int port = server.Port();
    if (!server.Started()) {
        state.SkipWithError("server did not start");
        return;
    }
    std::vector<std::unique_ptr<test::RawClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        auto client = std::make_unique<test::RawClient>(port);
        if (client->Request(lan::EncodeLogin("desk", "pw"), 3) != "1\r\n") {
            state.SkipWithError("client could not log in");
            break;
        }
        clients.push_back(std::move(client));
    }
    const std::string checkCust = lan::EncodeEmpty(lan::Request::CheckCust);
    const std::string checkGroup = lan::EncodeEmpty(lan::Request::CheckGroup);
    const int windowMs = static_cast<int>(state.range(0));
    double cpu = 0, wall = 0;
    int64_t polls = 0;
    for (auto _ : state) {
        double cpuStart = ProcessCpuSeconds(server.Pid());
        auto start = steady_clock::now();
        // Each client polls every 2 s; the clients are spread evenly over the period.
        for (int elapsed = 0; elapsed < windowMs; elapsed += kPollPeriodMs) {
            for (size_t i = 0; i < clients.size(); ++i) {
                auto due = start + milliseconds(elapsed + static_cast<int>(i) * kPollPeriodMs / kClients);
                std::this_thread::sleep_until(due);
                if (clients[i]->Request(checkCust, 250).size() != 250 ||
                    clients[i]->Request(checkGroup, 25).size() != 25) {
                    state.SkipWithError("poll failed");
                    break;
                }
                ++polls;
            }
        }
        wall += duration<double>(steady_clock::now() - start).count();
        cpu += ProcessCpuSeconds(server.Pid()) - cpuStart;
    }
    state.counters["server_cpu_percent"] = wall > 0 ? 100.0 * cpu / wall : 0;
    state.counters["polls"] = static_cast<double>(polls);
    clients.clear();
}
BENCHMARK(BM_ServerCpuWith100PollingClients)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_ReadCustomerRoundTrip(benchmark::State& state) {
    Console console;
    console.dataDir = MakeDataDir();
    FillDirectory(*console.local);
    lan::NetServer server(console);
    server.Operators().Set(0, "desk", "pw", kReadWrite);
    if (!server.Start(0)) {
        state.SkipWithError("server did not start");
        return;
    }
    test::RawClient client(server.Port());
    client.Request(lan::EncodeLogin("desk", "pw"), 3);
    int slot = 0;
    for (auto _ : state) {
        std::string length = client.Request(lan::EncodeIndex(lan::Request::ReadCustomer, slot), 3);
        if (length.size() != 3 || client.Recv(static_cast<size_t>(lan::ReplyValue(length))).empty())
            break;
        slot = (slot + 1) % 1500;
    }
    server.Stop();
    std::filesystem::remove_all(console.dataDir);
}
BENCHMARK(BM_ReadCustomerRoundTrip)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace brimlow

BENCHMARK_MAIN();
