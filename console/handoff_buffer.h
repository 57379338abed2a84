#pragma once
// The one-place buffer through which a starter hands a text (a packet path, a ticket name) to the worker it
// starts: the worker copies the text out and empties the buffer, which tells the starter it may reuse it.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace brimlow {

class HandoffBuffer {
public:
    void Put(const std::string& text) {
        std::lock_guard lock(m_mutex);
        m_text = text;
    }

    // The worker's side: copies the text out and empties the buffer.
    std::string Take() {
        std::lock_guard lock(m_mutex);
        std::string text;
        text.swap(m_text);
        m_taken.notify_all();
        return text;
    }

    // Waits, checking every pollMs, until the worker has taken the text.
    void WaitTaken(int pollMs) {
        std::unique_lock lock(m_mutex);
        while (!m_text.empty())
            m_taken.wait_for(lock, std::chrono::milliseconds(pollMs));
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_taken;
    std::string m_text;
};

} // namespace brimlow
