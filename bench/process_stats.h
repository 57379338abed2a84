#pragma once
// What the benchmarks that measure a process of their own share: a scratch data directory, and a process's CPU
// time and status fields from /proc.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace brimlow::bench {

inline std::string MakeDataDir() {
    char templ[] = "/tmp/brimlow-bench-XXXXXX";
    return mkdtemp(templ) ? templ : "/tmp";
}

// user + system time of a process, in seconds.
inline double ProcessCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stoul(field);
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A field of /proc/PID/status ("Threads", "VmRSS"), as its number.
inline long StatusField(pid_t pid, const std::string& name) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(name + ":", 0) == 0)
            return std::stol(line.substr(name.size() + 1));
    return -1;
}

} // namespace brimlow::bench
