#pragma once
// A pseudo-terminal for serial tests: the test holds the master side, the code under test opens Slave().
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace brimlow::test {

class PtyPair {
public:
    PtyPair() : m_master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        if (m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0)
            m_slave = ptsname(m_master);
    }
    ~PtyPair() { HangUp(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& Slave() const { return m_slave; }
    int Master() const { return m_master; }
    bool Write(const std::string& bytes) {
        return write(m_master, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    }
    // What the other side sent, waiting up to 2 s for count bytes.
    std::string Read(size_t count) {
        std::string out;
        char buffer[512];
        for (int tries = 0; tries < 2000 && out.size() < count; ++tries)
            if (ssize_t got = read(m_master, buffer, sizeof buffer); got > 0)
                out.append(buffer, static_cast<size_t>(got));
            else
                usleep(1000);
        return out;
    }
    // Closing the master is the line going dead for the slave side.
    void HangUp() {
        if (m_master >= 0)
            close(m_master);
        m_master = -1;
    }

private:
    int m_master;
    std::string m_slave;
};

} // namespace brimlow::test
