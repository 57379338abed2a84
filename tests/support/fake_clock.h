#pragma once
// Virtual time: SleepMs moves the clock on at once (and yields); the test sets Now.
#include "console/clock.h"

#include <atomic>
#include <thread>

namespace brimlow::test {

class FakeClock final : public Clock {
public:
    // realMicrosPerMs lets a real peer get a word in before a virtual time-out.
    explicit FakeClock(time_t start = 1700000000, int realMicrosPerMs = 0)
        : m_ms(static_cast<int64_t>(start) * 1000), m_realMicrosPerMs(realMicrosPerMs) {}
    time_t Now() override { return static_cast<time_t>(m_ms.load() / 1000); }
    int64_t NowMs() override { return m_ms.load(); }
    void SleepMs(int ms) override {
        m_ms += ms > 0 ? ms : 0;
        int64_t real = static_cast<int64_t>(ms > 0 ? ms : 0) * m_realMicrosPerMs;
        std::this_thread::sleep_for(std::chrono::microseconds(real > 200 ? real : 200));
    }
    void Set(time_t now) { m_ms = static_cast<int64_t>(now) * 1000; }

private:
    std::atomic<int64_t> m_ms;
    const int m_realMicrosPerMs;
};

} // namespace brimlow::test
