#pragma once
// The process-wide state of one console: data directory, role, settings, the local and the network directory,
// flags and counters that the threads share, and the operator interface. Every engine operation takes the
// Console it works for, so a test can run two of them side by side.
#include "console/clock.h"
#include "console/operator_interface.h"
#include "console/settings.h"
#include "console/wake_up.h"
#include "directory/directory.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace brimlow {

class NetClient;

enum class SendMode : int { NetPage = 0, Email = 2, Page = 3 };
constexpr int kNetworkTab = 3;

// The page as the operator composed it in the window.
struct ComposedPage {
    std::string message;
    std::string subject;
    bool attachSignature = false;
    SendMode mode = SendMode::NetPage;
    int currentTab = 0;
};

// One line handed from any thread to the Result list; empty when free.
struct StatusMailbox {
    std::mutex mutex;
    std::condition_variable emptied;
    std::string line;
};

// Counts the detached worker threads, so that shut-down waits for them for at most its grace period.
class WorkerCount {
public:
    void Enter() { m_count.fetch_add(1); }
    void Leave();
    // Waits until no worker runs or the time is up; returns true when none runs.
    bool WaitIdle(int timeoutMs);
    int Running() const { return m_count.load(); }

private:
    std::atomic<int> m_count{0};
    std::mutex m_mutex;
    std::condition_variable m_idle;
};

struct Console {
    Console();
    ~Console();

    std::string dataDir;
    bool serverRole = false;
    SettingsCell settings;

    std::unique_ptr<Directory> local;
    std::unique_ptr<Directory> network;
    ModemSettings modem{};
    Signature signature{};

    // "DatabaseLock": the local tables, their lock bytes and the sessions' change bitmaps.
    std::mutex databaseLock;

    StatusMailbox mailbox;
    // The console loop waits on it between scans; a status line posted for the Result list notifies it.
    WakeUp wake;
    std::mutex logLock;      // one entry at a time in each log
    std::mutex uniqueNameLock; // naming and creating a queue file is one step
    std::array<char, 8> uniqueNameCounter{'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A'};

    std::atomic<int> sentPages{0};
    std::atomic<int> failedPages{0};
    std::atomic<int> dialBusy{0};      // 0, or company index + 1 of the running dial thread
    std::atomic<int> networkBusy{0};   // the client is connecting and downloading
    std::atomic<int> sending{0};       // Send walks the subscriber list
    std::atomic<int> trackingRefresh{0};
    std::atomic<int> secondRefresh{0};
    std::atomic<int> received{0};      // play "receive.wav" at the next scan
    std::atomic<int> reconnectWanted{0};
    std::atomic<int> exiting{0};
    std::atomic<int> trackingPause{0};
    std::atomic<int> currentTab{0};
    std::atomic<int> sendMode{static_cast<int>(SendMode::NetPage)};

    OperatorInterface* op = nullptr;
    Clock* clock = &SystemClock::Instance();
    WorkerCount workers;

    // The queue scan's network step (the LAN client's reconnect, polls and ticket collection); empty while
    // this console is no LAN client.
    std::function<void()> networkScanStep;
    // Plays a .wav file and returns once it has played (Qt Multimedia in the console); empty plays nothing.
    std::function<void(const std::string& path)> playSound;
    // The LAN client of a console that is one (network/net_client.h); empty otherwise.
    std::shared_ptr<NetClient> netClient;

    // Runs job on a detached worker thread that shut-down waits for during its grace period. False when no
    // thread could be started (a resource limit): job did not run and will not.
    [[nodiscard]] bool StartWorker(std::function<void()> job);

    // Sets the exiting flag and frees every thread that waits to post a status line: nobody takes lines now.
    void BeginExit();

    Directory& DirectoryForTab(int tab) { return tab == kNetworkTab ? *network : *local; }
};

} // namespace brimlow
