#pragma once
// A wake-up descriptor: any thread, or a signal handler, ends the console loop's wait for work at once, so that
// the loop sleeps until there is something to do instead of waking to look.
namespace brimlow {

class WakeUp {
public:
    WakeUp();
    ~WakeUp();
    WakeUp(const WakeUp&) = delete;
    WakeUp& operator=(const WakeUp&) = delete;

    // Async-signal-safe; wake-ups that nobody has waited for yet add up to one.
    void Notify() const;
    // Readable while a wake-up is pending, for an event loop that watches descriptors.
    int Fd() const { return m_fd; }
    // Waits up to timeoutMs for a wake-up and takes it; true when one came.
    bool Wait(int timeoutMs) const;
    // Takes a pending wake-up.
    void Drain() const;

private:
    int m_fd;
};

} // namespace brimlow
