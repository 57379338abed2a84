#pragma once
// The LAN client: one persistent connection to the server console, the login and the download of the server's
// directory into Console::network, the polls that keep that copy current, one blocking operation per request,
// the edit-lock protocol and the collection of this operator's tracking tickets.
//
// Every request holds "ClientLock" from its send to the end of its reply, so requests of different threads never
// interleave on the socket. Replies are read by the lengths their request implies; a reply that does not come
// whole, or whose length field is no number in range, leaves the byte stream unusable, so the connection is
// given up and the next queue scan reconnects and reloads.
//
// The network directory is read and written by several threads (the connect job, the window's polls, Send and
// the editors, a Network-tab dial run): every access to it, here and in the callers, is under "DatabaseLock",
// held for one record at a time and never across a request. "ClientLock" may be held while taking
// "DatabaseLock", never the other way round.
#include "console/console.h"
#include "directory/records.h"
#include "network/protocol.h"
#include "transports/socket_lines.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace brimlow {

constexpr const char* kConnectionAbortedText = "Network connection aborted!";
constexpr const char* kLoginRefusedText = "Server version mis-match, aborting network connection!";
constexpr const char* kSentToServerText = "Message sent to server...";

// Results of the operations that are not the server's answer.
constexpr int kAlreadyConnected = -7;
constexpr int kGroupNotConnected = -5;

// Tickets collected by one queue scan at most; the rest wait for the next scan.
constexpr int kTicketsPerScan = 200;
constexpr int kClientSocketTimeoutMs = 10000;

using lan::FileFindRecord;

// The port the client connects to: 777, or BRIMLOW_LAN_PORT when it names a port.
int LanPort();

// A ticket name from the server that may become a file of the Tracking folder: not empty, no "/", not "." or
// "..", no ETX (it would end the request), shorter than the file-find record's name field.
bool IsSafeTicketName(const std::string& name);

struct NetClientTimings {
    int socketTimeoutMs = kClientSocketTimeoutMs;
    // Bound on one reply across repeated receive time-outs: a server that holds a connection open but never
    // answers must not hold the caller (often the user-interface thread) for ever.
    int replyLimitMs = 60000;
};

class NetClient {
public:
    explicit NetClient(Console& console, NetClientTimings timings = {});
    ~NetClient();
    NetClient(const NetClient&) = delete;
    NetClient& operator=(const NetClient&) = delete;

    // The port SyncWithServer connects to (LanPort() unless a test chose another).
    void SetPort(int port) { m_port = port; }
    bool Connected() const { return m_connected.load(); }
    bool GaveUp() const { return m_giveUp.load(); }
    // The connect job's click: wanted by the job's end, played by the next scan on the user-interface thread.
    void WantClick() { m_clickWanted = true; }
    bool TakeClickWanted() { return m_clickWanted.exchange(false); }

    int ConnectToServer(const std::string& address, int port);
    int AbortConnection();
    int SyncWithServer();

    int ReadNetSubscriber(int slot);
    int ReadNetGroup(int group);
    int ReadNetCompany(int company);
    int ReadAllNetCompanies();
    int CheckNetSubscribers();
    int CheckNetGroups();
    int WriteNetSubscriber(int slot);
    int AddNetSubscriber(const SubscriberRecord& record);
    int DeleteNetSubscriber(int slot);
    int WriteNetGroup(int group);
    int AddNetGroup(const std::string& name, int scratchGroup);
    int LockNetRecord(int slot);
    int UnlockNetRecord(int slot);
    int GetLockOwner(int slot, std::string& owner);
    int GetSecurityLevel();
    int SendServerPage(int slot, const std::string& subject, const std::string& message, int32_t pageType);
    int SendClientPage(int localSlot, const std::string& subject, const std::string& message, int32_t pageType);
    int FirstNetTicket(FileFindRecord& record);
    int NextNetTicket(FileFindRecord& record);
    int FetchNetTicket(const std::string& name);

private:
    class Exchange;
    // Status replies: three bytes, their decimal value.
    int StatusRequest(const std::string& frame, int notConnected = 0, bool retryOnTimeout = true);
    int TicketRequest(lan::Request code, FileFindRecord& record);
    int Login(const std::string& username, const std::string& password);
    // Decodes into the network slot; true when the slot holds an entry afterwards.
    bool StoreSubscriber(int slot, const std::string& text);
    void PostStatusLater(const std::string& text);

    Console& m_console;
    NetClientTimings m_timings;
    int m_port;
    std::mutex m_syncLock;   // one SyncWithServer at a time
    std::mutex m_clientLock; // "ClientLock"
    SocketReader m_reader;   // the connection and its bytes not yet read, under m_clientLock
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_giveUp{false};
    std::atomic<bool> m_clickWanted{false};
};

} // namespace brimlow
