#pragma once
// A LAN server forked into a child process, so that its CPU time is counted apart from its clients'.
#include "bench/process_stats.h"
#include "network/server.h"

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace brimlow::bench {

// A server with the account desk/pw (read-write) over a fresh data directory that fill prepares. Its port comes
// back through a pipe; it runs until the object goes, which kills it and removes the directory.
class ServerProcess {
public:
    explicit ServerProcess(void (*fill)(Directory&) = nullptr) : m_dataDir(MakeDataDir()) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            close(pipeFds[0]);
            Console console;
            console.dataDir = m_dataDir;
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
        if (m_pid > 0 && read(pipeFds[0], &m_port, sizeof m_port) != sizeof m_port)
            m_port = 0;
        close(pipeFds[0]);
    }
    ~ServerProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        std::filesystem::remove_all(m_dataDir);
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool Started() const { return m_pid > 0 && m_port != 0; }
    pid_t Pid() const { return m_pid; }
    int Port() const { return m_port; }

private:
    std::string m_dataDir;
    pid_t m_pid = -1;
    int m_port = 0;
};

} // namespace brimlow::bench
