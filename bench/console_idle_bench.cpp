// The CPU a headless console uses while it has nothing to do, over 10 s, beside its floor of none: the console
// runs as a process of its own on a fresh data directory, and its user and system time and its threads' wake-ups
// (voluntary context switches) are read from /proc before and after.
#include "bench/process_stats.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace brimlow {
namespace {

struct Usage {
    double cpuSeconds = 0;
    long wakeUps = 0;
};

Usage ReadUsage(pid_t pid) {
    Usage usage;
    usage.cpuSeconds = bench::ProcessCpuSeconds(pid);
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                usage.wakeUps += std::stol(line.substr(24));
    }
    return usage;
}

// A port that was free a moment ago.
int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// range(1): 1 runs the console in the server role.
void BM_IdleHeadlessConsole(benchmark::State& state) {
    char templ[] = "/tmp/brimlow-idle-XXXXXX";
    std::string dir = mkdtemp(templ) ? templ : "/tmp/brimlow-idle";
    std::string data = dir + "/data", config = "XDG_CONFIG_HOME=" + dir + "/config";
    int out[2];
    if (pipe(out) != 0) {
        state.SkipWithError("no pipe");
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.push_back(*e);
    env.push_back(config);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("BRIMLOW_LAN_PORT=" + std::to_string(FreePort()));
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string binary = BRIMLOW_BINARY, dataOption = "--data", headless = "--headless", server = "--server";
    std::vector<char*> argv = {binary.data(), dataOption.data(), data.data(), headless.data()};
    if (state.range(1) == 1)
        argv.push_back(server.data()); // its listener on a free port, with no client
    argv.push_back(nullptr);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // Started once it has said so; then a second for the first scans to pass.
    std::string said;
    char buffer[256];
    pollfd readable{out[0], POLLIN, 0};
    while (spawned == 0 && said.find("running on") == std::string::npos && poll(&readable, 1, 10000) > 0) {
        ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        said.append(buffer, static_cast<size_t>(n));
    }
    if (said.find("running on") == std::string::npos) {
        state.SkipWithError("the console did not start");
        return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const int windowMs = static_cast<int>(state.range(0));
    Usage total;
    for (auto _ : state) {
        Usage before = ReadUsage(pid);
        std::this_thread::sleep_for(std::chrono::milliseconds(windowMs));
        Usage after = ReadUsage(pid);
        total.cpuSeconds += after.cpuSeconds - before.cpuSeconds;
        total.wakeUps += after.wakeUps - before.wakeUps;
    }
    state.counters["cpu_ms"] = benchmark::Counter(1000 * total.cpuSeconds, benchmark::Counter::kAvgIterations);
    state.counters["cpu_percent"] =
        benchmark::Counter(100 * total.cpuSeconds * 1000 / windowMs, benchmark::Counter::kAvgIterations);
    state.counters["wake_ups_per_s"] =
        benchmark::Counter(static_cast<double>(total.wakeUps) * 1000 / windowMs, benchmark::Counter::kAvgIterations);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    close(out[0]);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_IdleHeadlessConsole)
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace
} // namespace brimlow

BENCHMARK_MAIN();
