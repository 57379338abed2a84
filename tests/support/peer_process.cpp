#include "tests/support/peer_process.h"

#include "tests/support/test_console.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brimlow::test {

PeerProcess::PeerProcess(const std::vector<std::string>& argv) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (SpawnProcess(m_pid, actions, argv) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    m_out = out[0];
    std::string line;
    pollfd pfd{m_out, POLLIN, 0};
    for (char c = 0; m_pid > 0 && c != '\n' && poll(&pfd, 1, 10000) > 0 && read(m_out, &c, 1) == 1;)
        line += c;
    m_port = atoi(line.c_str());
}

PeerProcess::~PeerProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0)
        close(m_out);
}

std::string PeerScript(const std::string& name) {
    return SourceDir() + "/tests/peers/" + name;
}

std::vector<std::string> SmtpSinkCommand(const std::string& folder, const std::vector<std::string>& options) {
    mkdir(folder.c_str(), 0700);
    std::vector<std::string> command = {"/usr/bin/python3", PeerScript("smtp_sink.py"), folder};
    command.insert(command.end(), options.begin(), options.end());
    return command;
}

} // namespace brimlow::test
