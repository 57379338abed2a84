#include "network/page_jobs.h"

#include <algorithm>
#include <iterator>

namespace brimlow::lan {

PageJobPool::PageJobPool(Console& console, int sessions, PageJobLimits limits)
    : m_console(console), m_limits(limits), m_sessions(static_cast<size_t>(sessions)) {}

PageJobPool::~PageJobPool() {
    Close();
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_workers == 0; });
}

int PageJobPool::Start() {
    int started = 0;
    for (int k = 0; k < m_limits.workers; ++k) {
        {
            std::lock_guard lock(m_mutex);
            ++m_workers;
        }
        if (m_console.StartWorker([this] { Work(); })) {
            ++started;
            continue;
        }
        std::lock_guard lock(m_mutex);
        --m_workers;
        break;
    }
    return started;
}

bool PageJobPool::Submit(int session, PageJob job) {
    std::lock_guard lock(m_mutex);
    if (session < 0 || static_cast<size_t>(session) >= m_sessions.size())
        return false;
    Session& mine = m_sessions[static_cast<size_t>(session)];
    int share = static_cast<int>(mine.queued.size()) + mine.running;
    if (m_closed || m_workers == 0 || m_queued + m_running >= m_limits.pageLimit || share >= m_limits.sessionShare)
        return false;
    mine.queued.push_back(std::move(job));
    ++m_queued;
    m_changed.notify_one();
    return true;
}

size_t PageJobPool::InFlight() const {
    std::lock_guard lock(m_mutex);
    return m_queued + m_running;
}

void PageJobPool::Close() {
    std::vector<PageJob> untaken;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        for (Session& session : m_sessions) {
            std::move(session.queued.begin(), session.queued.end(), std::back_inserter(untaken));
            session.queued.clear();
        }
        m_queued = 0;
        m_changed.notify_all();
    }
    for (PageJob& job : untaken)
        job.keep();
}

// The next session in turn with a page queued and fewer than half the workers busy with its pages.
bool PageJobPool::TakeLocked(PageJob& job, int& session) {
    const int busyLimit = std::max(1, m_limits.workers / 2);
    for (size_t k = 0; k < m_sessions.size(); ++k) {
        size_t s = (m_next + k) % m_sessions.size();
        Session& candidate = m_sessions[s];
        if (candidate.queued.empty() || candidate.running >= busyLimit)
            continue;
        job = std::move(candidate.queued.front());
        candidate.queued.pop_front();
        ++candidate.running;
        ++m_running;
        --m_queued;
        m_next = s + 1;
        session = static_cast<int>(s);
        return true;
    }
    return false;
}

void PageJobPool::Work() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        PageJob job;
        int session = 0;
        m_changed.wait(lock, [&] { return TakeLocked(job, session) || m_closed; });
        if (!job.deliver)
            break;
        lock.unlock();
        job.deliver();
        job = {}; // what the job holds goes before the next one is taken
        lock.lock();
        --m_sessions[static_cast<size_t>(session)].running;
        --m_running;
        m_changed.notify_all(); // a session below its limit again, or the last running job done
    }
    --m_workers;
    m_changed.notify_all();
}

} // namespace brimlow::lan
