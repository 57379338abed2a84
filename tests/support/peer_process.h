#pragma once
// A real protocol peer as a child process, which prints the port it listens on as its first line.
#include <string>
#include <sys/types.h>
#include <vector>

namespace brimlow::test {

class PeerProcess {
public:
    explicit PeerProcess(const std::vector<std::string>& argv);
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;
    // 0 when the child did not announce a port within ten seconds.
    int Port() const { return m_port; }

private:
    pid_t m_pid = -1;
    int m_port = 0;
    int m_out = -1;
};

// tests/peers/<name> in the source tree.
std::string PeerScript(const std::string& name);
// aiosmtpd on loopback, keeping each message in folder (made here) as tests/peers/smtp_sink.py describes.
std::vector<std::string> SmtpSinkCommand(const std::string& folder, const std::vector<std::string>& options = {});

} // namespace brimlow::test
