#pragma once
// The LAN server: a listener thread on the LAN port, up to 100 sessions each on a thread of its own, and the
// jobs that deliver pages handed over by clients. Sessions read and change the console's local directory under
// "DatabaseLock" (Console::databaseLock); whoever else edits the local tables while a server runs (the
// server's own operator) takes that lock too and tells the sessions through the mark operations.
//
// Security levels are enforced here as well as on the client: level 0 reads and sends pages, level 1 also locks,
// unlocks, writes and adds, level 2 also deletes. A request beyond the session's level is answered "0\r\n" and
// changes nothing. Indexes out of range are answered as for a free slot and never used.
//
//     NetServer server(console, ServerTimings{...});
//     server.Operators().LoadOperators(console.dataDir);
//     server.Start(0);          // 0: any free port; server.Port() tells which
//     ...
//     server.Stop();            // ends every session and waits for the server's threads and jobs
#include "console/console.h"
#include "network/operators.h"
#include "network/protocol.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

namespace brimlow::lan {

constexpr int kSessionSlots = 100;
constexpr size_t kSessionBufferSize = 18000;
constexpr size_t kSessionReceiveLimit = 17800; // the most one buffer holds before a receive
constexpr size_t kSessionDiscardLimit = 17700; // more than this without a complete request is thrown away

// Every wait of the server, so that tests run the 30-second idle end in milliseconds.
struct ServerTimings {
    int receiveTimeoutMs = 30000; // SO_RCVTIMEO of a session socket
    int sendTimeoutMs = 30000;    // SO_SNDTIMEO
    int idleLimitMs = 10000;      // a receive time-out ends the session when data is older than this
    int acceptPollMs = 10;        // the listener's wait for a connection between checks of the stop flags
    int handoffPollMs = 100;      // checks while a job box or a packet path waits to be taken
};

// Activity counts for the monitor.
struct ServerCounters {
    std::atomic<int64_t> subscriberReads{0}, subscriberWrites{0}, subscriberAdds{0}, subscriberChecks{0};
    std::atomic<int64_t> groupReads{0}, groupWrites{0}, groupAdds{0}, groupChecks{0};
    std::atomic<int64_t> locksHeld{0}, deletes{0};
};

// One row of the monitor: a session slot in use.
struct SessionView {
    int slot = 0;
    std::string userName;
    int level = 0;
    std::string host;
    time_t connectTime = 0;
    uint64_t bytesSent = 0;
    uint64_t bytesReceived = 0;
};

class NetServer {
public:
    explicit NetServer(Console& console, ServerTimings timings = {});
    ~NetServer();
    NetServer(const NetServer&) = delete;
    NetServer& operator=(const NetServer&) = delete;

    // The account table the sessions log in against; load it before Start.
    OperatorTable& Operators() { return m_operators; }

    // Zeroes the session table, binds port (0: any free one) on all local addresses and starts the listener.
    // False when the port cannot be bound or the console is exiting.
    bool Start(int port);
    // The port bound by Start; 0 when not listening.
    int Port() const { return m_port.load(); }
    // Closes the listener and every session (their locks are released) and waits for the listener, the
    // sessions and every page job started by them.
    void Stop();

    // Mark operations: the changed bits that tell each session's client what to re-read. Changes are found by
    // comparing the tables with what the sessions were last told, so every session is marked for exactly the
    // subscriber slots and groups whose bytes changed since, whoever changed them, and for nothing else (lock
    // bytes are no content: clients never see them). The local operator announces an edit of the local tables
    // with them after making it under "DatabaseLock"; each takes "DatabaseLock" itself.
    //
    // Announce that one subscriber changed: exceptSlot, a session that already holds the new bytes of slot
    // subscriber, is not marked for it; -1 excludes no session.
    void MarkSubscriberChanged(int exceptSlot, int subscriber);
    // Announce that one group changed, with the same exception.
    void MarkGroupChanged(int exceptSlot, int group);
    // Announce that all subscribers changed: count is the editor's bound of the changed slots; above 2,000 it
    // writes "Error in AllSubscribersChanged!" to Network.log and marks nothing.
    void MarkAllSubscribersChanged(int count);
    // Announce that all groups changed.
    void MarkAllGroupsChanged();
    // The subscriber sort of the local directory and its marks, under "DatabaseLock". Returns true when a record
    // moved.
    bool SortLocalSubscribers();

    // The monitor's view; each call copies under the locks.
    std::string MonitorCommand() const;
    void SetMonitorCommand(const std::string& text);
    const ServerCounters& Counters() const { return m_counters; }
    std::vector<SessionView> Sessions() const;

private:
    class Session;
    struct SnppJobBox {
        std::mutex mutex;
        std::condition_variable changed;
        bool full = false;
        std::string name, pin, message, owner;
        int company = 0;
    };
    struct Slot {
        int sock = -1;
        std::string userName;
        int16_t level = 0;
        std::string host; // empty: the slot is free
        time_t connectTime = 0;
        std::atomic<uint64_t> bytesSent{0};
        std::atomic<uint64_t> bytesReceived{0};
        SubscriberBitmap changedSubscribers{};
        GroupBitmap changedGroups{};
        SnppJobBox snppBox;
    };

    void Listen();
    void Admit(int fd, const std::string& address);
    void FreeSlotLocked(int s);
    void ReleaseSessionLocked(int s);
    // Marks every session for the slots (groups) whose bytes differ from the published tables, except
    // holderSession for heldSlot (heldGroup), and publishes them.
    void PublishSubscribersLocked(int holderSession = -1, int heldSlot = -1);
    void PublishGroupsLocked(int holderSession = -1, int heldGroup = -1);
    void StartJob(std::function<void()> job);

    Console& m_console;
    ServerTimings m_timings;
    OperatorTable m_operators;
    ServerCounters m_counters;
    std::array<Slot, kSessionSlots> m_slots; // under m_console.databaseLock
    // The subscriber and group tables as the sessions were last told them, under m_console.databaseLock.
    std::unique_ptr<Directory> m_published;
    std::array<std::thread, kSessionSlots> m_threads;
    std::thread m_listener;
    int m_listenFd = -1;
    std::atomic<int> m_port{0};
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_monitorMutex;
    std::string m_monitorCommand;

    std::binary_semaphore m_processServer{1}; // "ProcessServer": one client page at a time
    std::mutex m_jobMutex;
    std::condition_variable m_jobsDone;
    int m_jobs = 0;
};

// The server role's start: the accounts from Operators.dat, then the listener on the LAN port
// (BRIMLOW_LAN_PORT or 777). A port that cannot be bound is noted in Network.log; the console runs on without
// serving the LAN.
std::unique_ptr<NetServer> StartServerRole(Console& console, ServerTimings timings = {});

} // namespace brimlow::lan
