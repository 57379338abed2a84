#pragma once
// A real protocol peer run as a child process (Perl's Net::SNPP::Server, aiosmtpd). The child prints the port it
// listens on as its first line; the peer is stopped when this object goes away.
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
// The command for aiosmtpd on loopback, storing each message in folder (made here) as <n>.eml, its envelope as
// <n>.env and what Python's e-mail parser reads in it as <n>.parsed; options as tests/peers/smtp_sink.py says.
std::vector<std::string> SmtpSinkCommand(const std::string& folder, const std::vector<std::string>& options = {});

} // namespace brimlow::test
