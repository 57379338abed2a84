// One edit on a server with a full directory and 20 client consoles: a client writes one record (a field, or a
// rename that moves it 100 slots or to the end of the table), then all 20 clients poll at once. Reported: the
// requests the edit caused (Read Customer and Read Group), and the time from the write until every copy is
// current. Its floor is the same poll of all 20 clients when nothing changed. Beside them, the round trip of
// one such write on an idle server, which bounds how long the server holds "DatabaseLock" for it.
#include "bench/full_directory.h"
#include "network/net_client.h"
#include "network/server.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

namespace brimlow {
namespace {

using namespace std::chrono;

constexpr int kClients = 20;

struct Client {
    Console console;
    std::unique_ptr<NetClient> client;
};

struct EditServer {
    EditServer() : server(host) {
        char templ[] = "/tmp/brimlow-bench-XXXXXX";
        dataDir = mkdtemp(templ) ? templ : "/tmp";
        host.dataDir = dataDir;
        bench::FillFullDirectory(*host.local);
        server.Operators().Set(0, "ann", "pw", 2);
        if (!server.Start(0))
            return;
        for (int k = 0; k < kClients; ++k) {
            auto c = std::make_unique<Client>();
            c->console.dataDir = dataDir;
            c->console.settings.Update([](Settings& s) {
                s.NetworkEnabled = 1;
                s.Server = "127.0.0.1";
                s.Username = "ann";
                s.Password = "pw";
            });
            c->client = std::make_unique<NetClient>(c->console);
            c->client->SetPort(server.Port());
            if (c->client->SyncWithServer() != 1)
                return;
            clients.push_back(std::move(c));
        }
        ready = true;
    }
    ~EditServer() {
        clients.clear();
        server.Stop();
        std::error_code ec;
        std::filesystem::remove_all(dataDir, ec);
    }

    void PollAll() {
        std::vector<std::thread> polls;
        for (auto& c : clients)
            polls.emplace_back([&c] {
                c->client->CheckNetSubscribers();
                c->client->CheckNetGroups();
            });
        for (std::thread& t : polls)
            t.join();
    }
    int64_t Requests() const { return server.Counters().subscriberReads.load() + server.Counters().groupReads.load(); }

    std::string dataDir;
    Console host;
    lan::NetServer server;
    std::vector<std::unique_ptr<Client>> clients;
    bool ready = false;
};

EditServer& Shared() {
    static EditServer shared;
    return shared;
}

int SlotNamed(const Directory& dir, const std::string& name) {
    for (int s = 0; s < kSubscriberSlots; ++s)
        if (GetText(dir.subscribers[s].Name) == name)
            return s;
    return -1;
}

// Writes, through the first client, the record named a or b, whichever exists: renamed to the other one, or, when
// b is empty, with a new City. False when the server refused.
bool Write(EditServer& e, const std::string& a, const std::string& b, int step) {
    NetClient& editor = *e.clients[0]->client;
    Directory& copy = *e.clients[0]->console.network;
    int slot = SlotNamed(copy, a);
    std::string to = b;
    if (slot < 0 && !b.empty()) {
        slot = SlotNamed(copy, b);
        to = a;
    }
    if (slot < 0 || editor.LockNetRecord(slot) != 1)
        return false;
    SetText(copy.subscribers[slot].City, "City " + std::to_string(step % 2));
    if (!b.empty())
        SetText(copy.subscribers[slot].Name, to);
    return editor.WriteNetSubscriber(slot) == 1;
}

// Arg: how far the edit moves its record: not at all (a field), 100 slots, or to the end of the table (past
// 1,801 slots); each iteration moves it there or back.
const char* const kMoves[][2] = {
    {"Subscriber 1000", ""}, {"Subscriber 1000", "Subscriber 1100a"}, {"Subscriber 0000", "Zulu"}};

void BM_EditSeenBy20PollingClients(benchmark::State& state) {
    EditServer& e = Shared();
    if (!e.ready) {
        state.SkipWithError("the server or a client could not start");
        return;
    }
    const auto& move = kMoves[state.range(0)];
    int64_t requests = 0;
    double seconds = 0;
    int step = 0;
    for (auto _ : state) {
        int64_t before = e.Requests();
        auto start = steady_clock::now();
        if (!Write(e, move[0], move[1], step++)) {
            state.SkipWithError("the write was refused");
            return;
        }
        e.PollAll();
        seconds += duration<double>(steady_clock::now() - start).count();
        requests += e.Requests() - before;
    }
    state.counters["requests"] = benchmark::Counter(static_cast<double>(requests), benchmark::Counter::kAvgIterations);
    state.counters["ms_until_current"] = benchmark::Counter(1000 * seconds, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_EditSeenBy20PollingClients)
    ->ArgName("move")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The floor: the same polls of all 20 clients with nothing changed.
void BM_PollOf20ClientsWithNothingChanged(benchmark::State& state) {
    EditServer& e = Shared();
    if (!e.ready) {
        state.SkipWithError("the server or a client could not start");
        return;
    }
    for (auto _ : state)
        e.PollAll();
}
BENCHMARK(BM_PollOf20ClientsWithNothingChanged)->Unit(benchmark::kMillisecond)->UseRealTime();

// A rename that moves a record to the end of the table, written by a raw exchange on a server without
// other clients: the server sorts and marks under "DatabaseLock" before it replies.
void BM_WriteThatMovesARecordToTheEnd(benchmark::State& state) {
    EditServer& e = Shared();
    if (!e.ready) {
        state.SkipWithError("the server or a client could not start");
        return;
    }
    int step = 0;
    for (auto _ : state) {
        if (!Write(e, "Subscriber 0000", "Zulu", step++)) {
            state.SkipWithError("the write was refused");
            return;
        }
        state.PauseTiming();
        e.PollAll(); // the editor's copy follows, so the next write finds its record
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WriteThatMovesARecordToTheEnd)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace brimlow

BENCHMARK_MAIN();
