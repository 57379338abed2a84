#pragma once
// The LAN server's page jobs: a fixed set of worker threads and a bounded queue for the pages that sessions hand
// over for delivery (SNPP, e-mail). A session may have at most its share of pages queued or running; more are
// refused, so no client can make the server start threads or hold memory without limit. The workers take the
// sessions' pages in turn, and one session never holds more than half of them, so that one client's pages to a
// silent provider do not hold back everyone else's. When the pool closes, the pages not yet started are filed on
// disk (or noted, where a page cannot be filed) instead of waiting for a worker the shut-down may never give them.
#include "console/console.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace brimlow::lan {

struct PageJobLimits {
    int workers = 8;         // threads that deliver pages
    size_t pageLimit = 1000; // pages queued or in delivery, all sessions together
    int sessionShare = 200;  // pages of one session queued or running: a whole group sent at once
};

// A handed-over page: deliver sends it; keep files it for a later run when the pool closes before a worker
// has taken it.
struct PageJob {
    std::function<void()> deliver;
    std::function<void()> keep;
};

class PageJobPool {
public:
    PageJobPool(Console& console, int sessions, PageJobLimits limits);
    // Closes the pool and waits for the pages being delivered.
    ~PageJobPool();
    PageJobPool(const PageJobPool&) = delete;
    PageJobPool& operator=(const PageJobPool&) = delete;

    // Starts the workers as console workers, so that shut-down's grace covers them. Returns how many started:
    // a thread that cannot be started (a resource limit) leaves fewer, and with none every page is refused.
    int Start();
    // Queues job for the session; false when its share is used, the pool holds its limit, no worker runs or the pool
    // is closed. The job did not run and will not then.
    bool Submit(int session, PageJob job);
    // Takes no more pages and keeps those not yet taken (on the calling thread); the workers end once the pages they
    // deliver are done.
    void Close();
    // Pages queued or being delivered.
    size_t InFlight() const;

private:
    struct Session {
        std::deque<PageJob> queued;
        int running = 0;
    };
    void Work();
    bool TakeLocked(PageJob& job, int& session);

    Console& m_console;
    const PageJobLimits m_limits;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Session> m_sessions;
    size_t m_queued = 0;
    size_t m_running = 0;
    size_t m_next = 0; // the session whose turn is next
    int m_workers = 0; // started and not yet ended
    bool m_closed = false;
};

} // namespace brimlow::lan
