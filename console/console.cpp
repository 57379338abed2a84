#include "console/console.h"

#include <chrono>
#include <system_error>
#include <thread>

namespace brimlow {

time_t SystemClock::Now() { return time(nullptr); }

int64_t SystemClock::NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::SleepMs(int ms) {
    if (ms <= 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

SystemClock& SystemClock::Instance() {
    static SystemClock clock;
    return clock;
}

void WorkerCount::Leave() {
    if (m_count.fetch_sub(1) == 1) {
        std::lock_guard lock(m_mutex);
        m_idle.notify_all();
    }
}

bool WorkerCount::WaitIdle(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_count.load() == 0; });
}

Console::Console() : local(Directory::Create()), network(Directory::Create()) {}

// Workers hold a reference to their console; a console that goes away first (a test's) waits for them.
Console::~Console() { workers.WaitIdle(30000); }

bool Console::StartWorker(std::function<void()> job) {
    workers.Enter();
    try {
        std::thread([this, job = std::move(job)] {
            job();
            workers.Leave();
        }).detach();
    } catch (const std::system_error&) {
        workers.Leave();
        return false;
    }
    return true;
}

void Console::BeginExit() {
    exiting = 1;
    std::lock_guard lock(mailbox.mutex);
    mailbox.emptied.notify_all();
}

} // namespace brimlow
