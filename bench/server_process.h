#pragma once
// A LAN server forked into a child process, so that its CPU time is counted apart from its clients'.
#include "bench/process_stats.h"
#include "network/server.h"

#include <unistd.h>

namespace brimlow::bench {

// A server with the account desk/pw (read-write) over a directory that fill prepares; its port is handed back
// through a pipe, and it runs until the benchmark kills it.
inline pid_t StartServerProcess(const std::string& dataDir, int& port, void (*fill)(Directory&) = nullptr) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        Console console;
        console.dataDir = dataDir;
        if (fill)
            fill(*console.local);
        lan::NetServer server(console);
        server.Operators().Set(0, "desk", "pw", kReadWrite);
        int bound = server.Start(0) ? server.Port() : 0;
        (void)!write(pipeFds[1], &bound, sizeof bound);
        close(pipeFds[1]);
        for (;;)
            pause();
    }
    close(pipeFds[1]);
    if (read(pipeFds[0], &port, sizeof port) != sizeof port)
        port = 0;
    close(pipeFds[0]);
    return pid;
}

} // namespace brimlow::bench
