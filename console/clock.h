#pragma once
// Time as the protocols see it: whole seconds for deadlines, milliseconds for pacing. Sessions take a Clock so
// that a test can run a 10-second time-out in virtual time.
#include <cstdint>
#include <ctime>

namespace brimlow {

class Clock {
public:
    virtual ~Clock() = default;
    virtual time_t Now() = 0;
    virtual int64_t NowMs() = 0; // monotonic
    virtual void SleepMs(int ms) = 0;
};

class SystemClock final : public Clock {
public:
    time_t Now() override;
    int64_t NowMs() override;
    void SleepMs(int ms) override;
    static SystemClock& Instance();
};

} // namespace brimlow
