#include "console/wake_up.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace brimlow {

WakeUp::WakeUp() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeUp::~WakeUp() {
    if (m_fd >= 0)
        close(m_fd);
}

void WakeUp::Notify() const {
    uint64_t one = 1;
    int saved = errno; // a signal handler must leave errno as it found it
    (void)!write(m_fd, &one, sizeof one);
    errno = saved;
}

bool WakeUp::Wait(int timeoutMs) const {
    pollfd readable{m_fd, POLLIN, 0};
    if (poll(&readable, 1, timeoutMs) <= 0)
        return false;
    Drain();
    return true;
}

void WakeUp::Drain() const {
    uint64_t count;
    (void)!read(m_fd, &count, sizeof count);
}

} // namespace brimlow
