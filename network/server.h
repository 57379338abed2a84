#pragma once
// The LAN server: a listener thread on the LAN port, up to 100 sessions each on a thread of its own, and the
// jobs that deliver pages handed over by clients. Sessions read and change the console's local directory under
// "DatabaseLock" (Console::databaseLock); whoever else edits the local tables while a server runs (the
// server's own operator) takes that lock too and tells the sessions through the mark operations.
//
// A connection gets a session slot only once it has logged in: until then the listener holds it, for at most
// the login deadline, with no thread of its own, so strangers can never take the slots operators need. When
// more connections wait for their login than the listener keeps, the one that has waited longest gives way.
//
// Security levels are enforced here as well as on the client: level 0 reads and sends pages, level 1 also locks,
// unlocks, writes and adds, level 2 also deletes. A request beyond the session's level is answered "0\r\n" and
// changes nothing. Indexes out of range are answered as for a free slot and never used.
//
//     NetServer server(console, ServerTimings{...});
//     server.Operators().LoadOperators(console.dataDir);
//     server.Start(0);          // 0: any free port; server.Port() tells which
//     ...
//     server.Stop();            // ends every session; pages being delivered still run, the rest are filed
#include "console/console.h"
#include "network/operators.h"
#include "network/page_jobs.h"
#include "network/protocol.h"

#include <array>
#include <atomic>
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
constexpr int kListenBacklog = 128;

// Every wait and bound of the server, so that tests run the 30-second idle end in milliseconds.
struct ServerTimings {
    int receiveTimeoutMs = 30000; // SO_RCVTIMEO of a session socket
    int sendTimeoutMs = 30000;    // SO_SNDTIMEO
    int idleLimitMs = 10000;      // a receive time-out ends the session when data is older than this
    int handoffPollMs = 100;      // checks while a packet path waits to be taken
    int loginDeadlineMs = 5000;   // a connection that has not logged in by then is closed
    int lingerMs = 2000;          // a refused connection's last line gets this long to arrive before the close
    size_t pendingLimit = 128;    // connections that wait for their login at once
    PageJobLimits pageJobs;
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
    // Closes the listener, every connection and every session (their locks are released) and waits for the
    // listener and the sessions, not for page jobs: those being delivered finish on the pool's workers, which the
    // console's grace at exit covers (and the destructor waits for); those not yet taken are filed for the next
    // Send Q, or noted in Network.log where a client's provider leaves no queue to file them in.
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
    // Pages handed over by clients that wait for or are in delivery.
    size_t PagesInFlight() const { return m_pageJobs.InFlight(); }
    std::vector<SessionView> Sessions() const;

private:
    class Session;
    struct Pending;
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
    };

    // The listener (server_listener.cpp): accepts, greets or refuses, holds each connection until its login.
    void Listen();
    // False when no descriptor was left for a connection: the listener pauses its accepts a moment.
    bool Accept(std::vector<Pending>& pending);
    void Serve(Pending& connection);
    void TakeLogin(Pending& connection, std::string_view frame);
    bool StartSession(Pending& connection, const std::string& user, int16_t level, std::string rest);
    void Refuse(Pending& connection, const std::string& line);

    void RunSession(int s, int fd, const std::string& user, int16_t level, const std::string& rest);
    void FreeSlotLocked(int s);
    void ReleaseSessionLocked(int s);
    // Marks every session for the slots (groups) whose bytes differ from the published tables, except
    // holderSession for heldSlot (heldGroup), and publishes them.
    void PublishSubscribersLocked(int holderSession = -1, int heldSlot = -1);
    void PublishGroupsLocked(int holderSession = -1, int heldGroup = -1);

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
    int m_wakeFd = -1; // an eventfd that Stop writes, so that the listener needs no time-out to see it
    std::atomic<int> m_port{0};
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_monitorMutex;
    std::string m_monitorCommand;

    std::binary_semaphore m_processServer{1}; // "ProcessServer": one client's modem page filed at a time
    PageJobPool m_pageJobs;
};

// The server role's start: the accounts from Operators.dat, then the listener on the LAN port
// (BRIMLOW_LAN_PORT or 777). A port that cannot be bound is noted in Network.log; the console runs on without
// serving the LAN.
std::unique_ptr<NetServer> StartServerRole(Console& console, ServerTimings timings = {});

} // namespace brimlow::lan
