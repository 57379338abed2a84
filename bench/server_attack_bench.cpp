// The LAN server under attack, all on loopback and bounded in time:
//  - an operator's login (connect, greeting, Login, one Ping) while 150 hostile connections run: 50 silent, 50
//    sending a junk byte every 50 ms, 50 reconnecting all the time (target: well below one second);
//  - a server process that is handed 1,000 pages for a provider that never answers: its threads and memory
//    stay bounded, and the pages past the session's share are answered "0";
//  - a session's CPU for a stream of 3-byte requests against a stream of junk.
#include "bench/server_process.h"
#include "tests/lan_raw_client.h"

#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace brimlow {
namespace {

using namespace std::chrono;
using namespace bench;

void BM_OperatorLoginAmong150HostileConnections(benchmark::State& state) {
    Console console;
    console.dataDir = MakeDataDir();
    lan::NetServer server(console);
    server.Operators().Set(0, "desk", "pw", kReadWrite);
    if (!server.Start(0)) {
        state.SkipWithError("server did not start");
        return;
    }
    const int port = server.Port();
    std::atomic<bool> stop{false};
    std::vector<std::unique_ptr<test::RawClient>> silent, slow;
    for (int i = 0; i < 50; ++i) {
        silent.push_back(std::make_unique<test::RawClient>(port, false));
        slow.push_back(std::make_unique<test::RawClient>(port, false));
    }
    std::thread dribble([&] {
        while (!stop) {
            for (auto& client : slow)
                client->Send("x");
            std::this_thread::sleep_for(milliseconds(50));
        }
    });
    std::atomic<long> reconnects{0};
    auto reconnect = [&] {
        std::vector<std::unique_ptr<test::RawClient>> own(25);
        for (size_t i = 0; !stop; i = (i + 1) % own.size(), ++reconnects)
            own[i] = std::make_unique<test::RawClient>(port, false);
    };
    std::thread r1(reconnect), r2(reconnect);
    std::this_thread::sleep_for(milliseconds(300));
    double worst = 0;
    for (auto _ : state) {
        auto start = steady_clock::now();
        test::RawClient desk(port);
        bool in = desk.Request(lan::EncodeLogin("desk", "pw"), 3) == "1\r\n" &&
                  desk.Request(lan::EncodeEmpty(lan::Request::Ping), 6) == "PONG\r\n";
        double seconds = duration<double>(steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        worst = std::max(worst, seconds);
        if (!in) {
            state.SkipWithError("the operator could not log in");
            break;
        }
    }
    state.counters["worst_ms"] = worst * 1000;
    state.counters["reconnects"] = static_cast<double>(reconnects.load());
    stop = true;
    dribble.join();
    r1.join();
    r2.join();
    server.Stop();
    std::filesystem::remove_all(console.dataDir);
}
BENCHMARK(BM_OperatorLoginAmong150HostileConnections)->Iterations(50)->UseManualTime()->Unit(benchmark::kMillisecond);

// A provider that never answers: it listens with a long backlog and never accepts, so every connection waits
// for its reply time-out.
class SilentPort {
public:
    SilentPort() : m_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_fd, 1000);
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~SilentPort() { close(m_fd); }
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;
    int Port() const { return m_port; }

private:
    int m_fd;
    int m_port = 0;
};

void BM_ThousandPagesToASilentProvider(benchmark::State& state) {
    ServerProcess server;
    const int port = server.Port();
    if (!server.Started()) {
        state.SkipWithError("server did not start");
        return;
    }
    SilentPort silent;
    CompanyRecord company{};
    SetText(company.Name, "Silent");
    SetText(company.Address, "127.0.0.1");
    company.Socket = static_cast<int16_t>(silent.Port());
    SubscriberRecord far{};
    SetText(far.Name, "Far");
    SetText(far.PIN, "1");
    std::string page = lan::EncodeClientPage(lan::kPageSnpp, "desk", "", "page", company, far);
    long threadsBefore = StatusField(server.Pid(), "Threads");
    int taken = 0, refused = 0;
    for (auto _ : state) {
        // 1,000 pages from one session, or spread over several.
        const int sessions = static_cast<int>(state.range(0));
        std::vector<std::unique_ptr<test::RawClient>> clients;
        for (int c = 0; c < sessions; ++c) {
            clients.push_back(std::make_unique<test::RawClient>(port));
            clients.back()->Request(lan::EncodeLogin("desk", "pw"), 3);
            for (int k = 0; k < 1000 / sessions; ++k)
                (clients.back()->Request(page, 3) == "1\r\n" ? taken : refused)++;
        }
        std::this_thread::sleep_for(milliseconds(500));
        state.counters["threads_before"] = static_cast<double>(threadsBefore);
        state.counters["threads"] = static_cast<double>(StatusField(server.Pid(), "Threads"));
        state.counters["rss_kb"] = static_cast<double>(StatusField(server.Pid(), "VmRSS"));
    }
    state.counters["pages_taken"] = taken;
    state.counters["pages_refused"] = refused;
}
BENCHMARK(BM_ThousandPagesToASilentProvider)->Arg(1)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// A session's CPU for 16 MB of requests of three bytes each (the unused code, answered with nothing) against
// 16 MB of junk without a request start. Requests are taken from a read offset, so the cost grows with their number
// and never with what is still buffered (about 70 ns a request); junk is skipped a buffer at a time.
void BM_SessionCpuPer16MegabytesOfTinyRequests(benchmark::State& state) {
    ServerProcess server;
    const int port = server.Port();
    if (!server.Started()) {
        state.SkipWithError("server did not start");
        return;
    }
    test::RawClient client(port);
    client.Request(lan::EncodeLogin("desk", "pw"), 3);
    const bool frames = state.range(0) == 1;
    std::string chunk;
    while (chunk.size() < 64 * 1024)
        chunk += frames ? std::string{lan::kSoh, '@', lan::kEtx} : std::string("junk");
    for (auto _ : state) {
        double before = ProcessCpuSeconds(server.Pid());
        for (size_t sent = 0; sent < (16u << 20); sent += chunk.size())
            client.Send(chunk);
        client.Request(lan::EncodeEmpty(lan::Request::Ping), 6); // everything before it has been taken
        state.counters["server_cpu_ms"] = (ProcessCpuSeconds(server.Pid()) - before) * 1000;
    }
}
BENCHMARK(BM_SessionCpuPer16MegabytesOfTinyRequests)
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace
} // namespace brimlow

BENCHMARK_MAIN();
