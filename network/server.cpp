#include "network/server.h"

#include "directory/data_files.h"
#include "directory/directory.h"
#include "directory/file_io.h"
#include "queue/email_packet.h"
#include "queue/file_listing.h"
#include "queue/logs.h"
#include "queue/queue_writer.h"
#include "queue/status.h"
#include "tracking/unread_mark.h"
#include "transports/email.h"
#include "transports/snpp.h"
#include "transports/socket_lines.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace brimlow::lan {

namespace {

// A handed-over page the server stopped before sending: whether it waits for the next Send Q or is lost.
void NoteStoppedPage(Console& console, const std::string& recipient, const std::string& user, bool filed) {
    WriteNetworkLog(console, "Page for " + recipient + " from " + user +
                                 (filed ? " filed for the next Send Q" : " not sent") +
                                 ": the server stopped before sending it");
}

// An e-mail page: its packet is written when a worker takes it, or when the server stops before one does.
PageJob EmailJob(Console& console, const SubscriberRecord& record, const std::string& subject,
                 const std::string& message, const std::string& user) {
    return {[&console, record, subject, message] {
                WriteEmailPacket(console, record, subject, message);
                DeliverEmailPackets(console);
            },
            [&console, record, subject, message, user] {
                NoteStoppedPage(console, GetText(record.Name), user,
                                WriteEmailPacket(console, record, subject, message));
            }};
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool EndsWithNoCase(const std::string& name, const std::string& suffix) {
    return name.size() >= suffix.size() && Lower(name.substr(name.size() - suffix.size())) == Lower(suffix);
}

// A ticket name from a client names one file of the Tracking folder and nothing else.
bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

const std::string kOk = StatusReply(1);
const std::string kRefused = StatusReply(0);

} // namespace

// ---- One session ----------------------------------------------------------------------------------------------

class NetServer::Session {
public:
    // A connection whose Login the listener has accepted; rest holds what arrived after the Login frame.
    Session(NetServer& server, int slot, int sock, std::string user, int16_t level, const std::string& rest)
        : m_server(server), m_console(server.m_console), m_slot(slot), m_sock(sock), m_buffer(kSessionBufferSize),
          m_fill(std::min(rest.size(), kSessionReceiveLimit)), m_userName(std::move(user)), m_level(level) {
        memcpy(m_buffer.data(), rest.data(), m_fill);
    }

    void Run();

private:
    void TakeFrames(size_t lastReceive);
    void HandleFrame(std::string_view frame, size_t lastReceive);
    void Dispatch(std::string_view frame);
    void Reply(const std::string& bytes);
    bool Allowed(int level) const { return m_level >= level; }
    void Refresh() {
        if (m_console.currentTab.load() != kNetworkTab)
            m_console.secondRefresh = 1;
    }
    Slot& MySlot() { return m_server.m_slots[m_slot]; }
    void Monitor(const char* text) {
        if (text)
            m_server.SetMonitorCommand(text);
    }

    void Login(std::string_view frame);
    void WriteCustomer(std::string_view frame);
    void ReadCustomer(std::string_view frame);
    void ReadGroup(std::string_view frame);
    void LockRecord(std::string_view frame);
    void UnlockRecord(std::string_view frame);
    void LockOwner(std::string_view frame);
    void IsGroup(std::string_view frame);
    void CheckCust();
    void CheckGroup();
    void WriteGroup(std::string_view frame);
    void DeleteCust(std::string_view frame);
    void AddCustomer(std::string_view frame);
    void AddGroup(std::string_view frame);
    void ReadCompany(std::string_view frame);
    void ServerPage(std::string_view frame);
    void ClientPage(std::string_view frame);
    void FirstTicket();
    void NextTicket();
    void FetchTicket(std::string_view frame);
    std::string TicketFolder() const { return JoinPath(m_console.dataDir, kTrackingFolder); }
    std::string TicketSuffix() const { return "-" + m_userName; }

    NetServer& m_server;
    Console& m_console;
    const int m_slot;
    const int m_sock;
    std::vector<char> m_buffer;
    size_t m_start = 0; // requests are taken from here: the buffer moves once per receive, not once per request
    size_t m_fill = 0;
    bool m_authenticated = true; // until a second Login is refused
    bool m_end = false;          // a refused Login or a failed send
    std::string m_userName;
    int m_level = 0;
    std::vector<std::string> m_tickets; // the open ticket search
    size_t m_nextTicket = 0;
    bool m_searchOpen = false;
};

void NetServer::Session::Run() {
    Reply(kOk); // the answer to the Login the listener took
    m_console.received = 1;
    // The reverse look-up runs here, not in the listener, so a slow name server delays only this client.
    {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        char host[NI_MAXHOST];
        if (getpeername(m_sock, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
            getnameinfo(reinterpret_cast<sockaddr*>(&peer), length, host, sizeof host, nullptr, 0, NI_NAMEREQD) == 0) {
            std::lock_guard lock(m_console.databaseLock);
            MySlot().host = std::string(host).substr(0, 100);
        }
    }
    TakeFrames(m_fill);
    int64_t lastData = m_console.clock->NowMs();
    while (!m_end) {
        if (m_console.exiting.load() || m_server.m_stop.load())
            break;
        if (m_console.clock->NowMs() - lastData > m_server.m_timings.idleLimitMs)
            break;
        if (m_fill - m_start > kSessionDiscardLimit)
            m_start = m_fill = 0;
        if (m_start > 0) {
            memmove(m_buffer.data(), m_buffer.data() + m_start, m_fill - m_start);
            m_fill -= m_start;
            m_start = 0;
        }
        ssize_t n = recv(m_sock, m_buffer.data() + m_fill, kSessionReceiveLimit - m_fill, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0)
            break;
        lastData = m_console.clock->NowMs();
        MySlot().bytesReceived += static_cast<uint64_t>(n);
        m_fill += static_cast<size_t>(n);
        TakeFrames(static_cast<size_t>(n));
    }
    m_server.SetMonitorCommand("Connection closed...");
    std::lock_guard lock(m_console.databaseLock);
    m_server.ReleaseSessionLocked(m_slot);
}

// Takes every complete request the buffer holds; junk before a request is dropped.
void NetServer::Session::TakeFrames(size_t lastReceive) {
    while (!m_end) {
        FrameScan scan = ScanFrame(m_buffer.data() + m_start, m_fill - m_start);
        m_start += scan.skip;
        if (!scan.complete)
            break;
        HandleFrame(std::string_view(m_buffer.data() + m_start, scan.length), lastReceive);
        m_start += scan.length;
    }
}

void NetServer::Session::HandleFrame(std::string_view frame, size_t lastReceive) {
    m_server.SetMonitorCommand("Received " + std::to_string(lastReceive) + " bytes");
    Dispatch(frame);
    if (!m_authenticated)
        m_end = true; // a refused Login ends the session, like any other end: its locks are released
}

void NetServer::Session::Reply(const std::string& bytes) {
    MySlot().bytesSent += bytes.size(); // counted first, so the count is there when the client has the reply
    if (!SendBytes(m_sock, bytes.data(), bytes.size()))
        m_end = true;
}

// Requests that change the tables set their marks before they reply, so a client that polls right after its
// reply already sees them.
void NetServer::Session::Dispatch(std::string_view frame) {
    char code = frame[1];
    Monitor(RequestMonitorName(code));
    switch (static_cast<Request>(code)) {
    case Request::Login: Login(frame); break;
    case Request::WriteCustomer: WriteCustomer(frame); break;
    case Request::ReadCustomer: ReadCustomer(frame); break;
    case Request::ReadGroup: ReadGroup(frame); break;
    case Request::LockRecord: LockRecord(frame); break;
    case Request::UnlockRecord: UnlockRecord(frame); break;
    case Request::LockOwner: LockOwner(frame); break;
    case Request::IsGroup: IsGroup(frame); break;
    case Request::CheckCust: CheckCust(); break;
    case Request::CheckGroup: CheckGroup(); break;
    case Request::WriteGroup: WriteGroup(frame); break;
    case Request::DeleteCust: DeleteCust(frame); break;
    case Request::AddCustomer: AddCustomer(frame); break;
    case Request::AddGroup: AddGroup(frame); break;
    case Request::SecurityLevel: Reply(StatusReply(m_level)); break;
    case Request::ReadCompany: ReadCompany(frame); break;
    case Request::Ping: Reply(kPongReply); break;
    case Request::ServerPage: ServerPage(frame); break;
    case Request::ClientPage: ClientPage(frame); break;
    case Request::FirstTicket: FirstTicket(); break;
    case Request::NextTicket: NextTicket(); break;
    case Request::FetchTicket: FetchTicket(frame); break;
    default: break; // no reply
    }
}

void NetServer::Session::Login(std::string_view frame) {
    LoginRequest login;
    std::optional<int16_t> level;
    if (DecodeLogin(frame, login))
        level = m_server.m_operators.Authenticate(login.user, login.password);
    if (!level) {
        m_server.SetMonitorCommand("INVALID PASSWORD");
        m_authenticated = false;
        Reply(kRefused);
        return;
    }
    m_server.SetMonitorCommand("Login Successful");
    m_userName = login.user;
    m_level = *level;
    {
        std::lock_guard lock(m_console.databaseLock);
        MySlot().userName = m_userName;
        MySlot().level = *level;
    }
    Reply(kOk);
    m_console.received = 1;
}

void NetServer::Session::WriteCustomer(std::string_view frame) {
    m_server.m_counters.subscriberWrites++;
    int slot = -1;
    SubscriberRecord record;
    bool ok = Allowed(kReadWrite) && DecodeCustomerFrame(frame, slot, record) && IsValidSubscriberSlot(slot) &&
              !IsEmptyText(record.Name);
    if (ok) {
        std::lock_guard lock(m_console.databaseLock);
        Directory& dir = *m_console.local;
        SubscriberRecord& stored = dir.subscribers[slot];
        ok = stored.LockByte != 0;
        if (ok) {
            if (stored.LockByte >= 1 && stored.LockByte <= kSessionSlots)
                m_server.m_counters.locksHeld--;
            record.Tab = stored.Tab;
            record.LockByte = 0; // the write ends the lock
            stored = record;
            SortSubscribers(dir);
            // The writer's copy holds what it wrote, unless the sort put another record into that slot.
            bool inPlace = memcmp(&dir.subscribers[slot], &record, sizeof record) == 0;
            m_server.PublishSubscribersLocked(m_slot, inPlace ? slot : -1);
        }
    }
    if (ok)
        Refresh();
    Reply(ok ? kOk : kRefused);
}

void NetServer::Session::ReadCustomer(std::string_view frame) {
    m_server.m_counters.subscriberReads++;
    int slot = DecodeIndex(frame);
    SubscriberRecord record{};
    if (IsValidSubscriberSlot(slot)) {
        std::lock_guard lock(m_console.databaseLock);
        record = m_console.local->subscribers[slot];
    }
    Reply(EncodeReadCustomerReply(record));
}

void NetServer::Session::ReadGroup(std::string_view frame) {
    m_server.m_counters.groupReads++;
    int group = DecodeIndex(frame);
    std::string reply = "000";
    if (IsValidGroupNumber(group)) {
        std::lock_guard lock(m_console.databaseLock);
        reply = EncodeReadGroupReply(m_console.local->groups[group]);
    }
    Reply(reply);
}

void NetServer::Session::LockRecord(std::string_view frame) {
    int slot = DecodeIndex(frame);
    bool granted = false;
    if (Allowed(kReadWrite) && IsValidSubscriberSlot(slot)) {
        std::lock_guard lock(m_console.databaseLock);
        uint8_t& lockByte = m_console.local->subscribers[slot].LockByte;
        if (lockByte == 0) {
            lockByte = static_cast<uint8_t>(m_slot + 1);
            m_server.m_counters.locksHeld++;
            granted = true;
        }
    }
    Reply(granted ? kOk : kRefused);
}

void NetServer::Session::UnlockRecord(std::string_view frame) {
    int slot = DecodeIndex(frame);
    if (!Allowed(kReadWrite)) {
        Reply(kRefused); // a read-only session holds no lock and may end nobody else's
        return;
    }
    if (IsValidSubscriberSlot(slot)) {
        std::lock_guard lock(m_console.databaseLock);
        uint8_t& lockByte = m_console.local->subscribers[slot].LockByte;
        if (lockByte >= 1 && lockByte <= kSessionSlots && m_server.m_counters.locksHeld > 0)
            m_server.m_counters.locksHeld--;
        lockByte = 0;
    }
    Reply(kOk);
}

void NetServer::Session::LockOwner(std::string_view frame) {
    int slot = DecodeIndex(frame);
    std::string text = kNotLockedText;
    if (IsValidSubscriberSlot(slot)) {
        std::lock_guard lock(m_console.databaseLock);
        uint8_t lockByte = m_console.local->subscribers[slot].LockByte;
        if (lockByte == kLockedByLocalEditor) {
            text = kServerLockText;
        } else if (lockByte >= 1 && lockByte <= kSessionSlots) {
            const Slot& holder = m_server.m_slots[lockByte - 1];
            if (!holder.host.empty())
                text = LockOwnerText(holder.userName, holder.host);
        }
    }
    Reply(text);
}

void NetServer::Session::IsGroup(std::string_view frame) {
    int group = DecodeIndex(frame);
    bool used = false;
    if (IsValidGroupNumber(group)) {
        std::lock_guard lock(m_console.databaseLock);
        used = !IsEmptyText(m_console.local->groups[group].Members[0]);
    }
    Reply(used ? kOk : kRefused);
}

void NetServer::Session::CheckCust() {
    m_server.m_counters.subscriberChecks++;
    SubscriberBitmap bits;
    {
        std::lock_guard lock(m_console.databaseLock);
        bits = MySlot().changedSubscribers;
        MySlot().changedSubscribers.fill(0);
    }
    Reply(std::string(reinterpret_cast<const char*>(bits.data()), bits.size()));
}

void NetServer::Session::CheckGroup() {
    m_server.m_counters.groupChecks++;
    GroupBitmap bits;
    {
        std::lock_guard lock(m_console.databaseLock);
        bits = MySlot().changedGroups;
        MySlot().changedGroups.fill(0);
    }
    Reply(std::string(reinterpret_cast<const char*>(bits.data()), bits.size()));
}

void NetServer::Session::WriteGroup(std::string_view frame) {
    m_server.m_counters.groupWrites++;
    int group = -1;
    auto record = std::make_unique<GroupRecord>();
    bool ok = Allowed(kReadWrite) && DecodeWriteGroup(frame, group, *record) && IsValidGroupNumber(group);
    if (ok) {
        std::lock_guard lock(m_console.databaseLock);
        m_console.local->groups[group] = *record;
        m_server.PublishGroupsLocked(m_slot, group);
    }
    if (ok)
        Refresh();
    Reply(ok ? kOk : kRefused);
}

void NetServer::Session::DeleteCust(std::string_view frame) {
    m_server.m_counters.deletes++;
    int slot = DecodeIndex(frame);
    bool ok = Allowed(kReadWriteDelete) && IsValidSubscriberSlot(slot);
    if (ok) {
        std::lock_guard lock(m_console.databaseLock);
        Directory& dir = *m_console.local;
        uint8_t lockByte = dir.subscribers[slot].LockByte;
        if (lockByte >= 1 && lockByte <= kSessionSlots && m_server.m_counters.locksHeld > 0)
            m_server.m_counters.locksHeld--;
        bool group = GroupNumberOf(dir.subscribers[slot]) != 0;
        DeleteSubscriberEntry(dir, slot);
        if (group)
            m_server.PublishGroupsLocked();
        m_server.PublishSubscribersLocked();
    }
    if (ok)
        Refresh();
    Reply(ok ? kOk : kRefused);
}

void NetServer::Session::AddCustomer(std::string_view frame) {
    m_server.m_counters.subscriberAdds++;
    int unused = 0;
    SubscriberRecord record;
    int slot = -1;
    if (Allowed(kReadWrite) && DecodeCustomerFrame(frame, unused, record) && !IsEmptyText(record.Name)) {
        record.Tab = 0;
        record.LockByte = 0;
        std::lock_guard lock(m_console.databaseLock);
        slot = brimlow::AddSubscriber(*m_console.local, record);
        if (slot >= 0) {
            SortSubscribers(*m_console.local);
            m_server.PublishSubscribersLocked();
        }
    }
    if (slot >= 0)
        Refresh();
    Reply(slot >= 0 ? kOk : kRefused);
}

void NetServer::Session::AddGroup(std::string_view frame) {
    m_server.m_counters.groupAdds++;
    std::string name;
    auto record = std::make_unique<GroupRecord>();
    int group = 0;
    if (Allowed(kReadWrite) && DecodeAddGroup(frame, name, *record)) {
        std::lock_guard lock(m_console.databaseLock);
        Directory& dir = *m_console.local;
        group = AllocateGroupNumber(dir);
        if (group) {
            dir.groups[group] = *record;
            if (!name.empty()) {
                SubscriberRecord groupEntry{};
                SetText(groupEntry.Name, name);
                groupEntry.Company = -group;
                brimlow::AddSubscriber(dir, groupEntry);
                SortSubscribers(dir);
            }
            m_server.PublishGroupsLocked();
            m_server.PublishSubscribersLocked();
        }
    }
    if (group)
        Refresh();
    Reply(group ? kOk : kRefused);
}

void NetServer::Session::ReadCompany(std::string_view frame) {
    int company = DecodeIndex(frame);
    CompanyRecord record{};
    if (IsValidCompanyIndex(company)) {
        std::lock_guard lock(m_console.databaseLock);
        record = m_console.local->companies[company];
    }
    Reply(std::string(reinterpret_cast<const char*>(&record), sizeof record));
}

// Pages for delivery by SNPP or e-mail go to the page jobs; a session that has handed over its share and more
// is answered "0" for the excess. A modem page is filed at once.
void NetServer::Session::ServerPage(std::string_view frame) {
    ServerPageRequest page;
    if (!DecodeServerPage(frame, page) || !IsValidSubscriberSlot(page.slot)) {
        Reply(kOk);
        return;
    }
    SubscriberRecord record;
    {
        std::lock_guard lock(m_console.databaseLock);
        record = m_console.local->subscribers[page.slot];
    }
    if (IsEmptyText(record.Name)) {
        Reply(kOk);
        return;
    }
    Console& console = m_console;
    bool taken = true;
    switch (page.pageType) {
    case kPageSnpp:
        taken = m_server.m_pageJobs.Submit(
            m_slot, {[&console, record, message = page.message, owner = m_userName] {
                         SendSnppByIndex(console, GetText(record.Name), GetText(record.PIN), record.Company, message,
                                         owner);
                     },
                     [&console, record, message = page.message, owner = m_userName] {
                         NoteStoppedPage(console, GetText(record.Name), owner,
                                         WriteSnppQueuePage(console, record, message));
                     }});
        break;
    case kPageModem: {
        std::lock_guard lock(m_console.databaseLock);
        WriteDirectPage(m_console, page.slot, page.message);
        break;
    }
    case kPageEmail:
        taken = m_server.m_pageJobs.Submit(m_slot, EmailJob(console, record, page.subject, page.message, m_userName));
        break;
    default: break;
    }
    Reply(taken ? kOk : kRefused);
}

void NetServer::Session::ClientPage(std::string_view frame) {
    auto page = std::make_shared<ClientPageRequest>();
    if (!DecodeClientPage(frame, *page)) {
        Reply(kOk);
        return;
    }
    Console& console = m_console;
    bool taken = true;
    switch (page->pageType) {
    case kPageSnpp:
        // The provider comes with the request, so there is no queue to file the page in once the server stops.
        taken = m_server.m_pageJobs.Submit(
            m_slot, {[&console, page] {
                         SendSnppByRecord(console, page->company, GetText(page->subscriber.Name),
                                          GetText(page->subscriber.PIN), page->message, page->userName);
                     },
                     [&console, page] {
                         NoteStoppedPage(console, GetText(page->subscriber.Name), page->userName, false);
                     }});
        break;
    case kPageModem:
        m_server.m_processServer.acquire();
        WriteServerIntake(console, page->userName, page->company, page->subscriber, page->message);
        m_server.m_processServer.release();
        break;
    case kPageEmail:
        taken = m_server.m_pageJobs.Submit(
            m_slot, EmailJob(console, page->subscriber, page->subject, page->message, page->userName));
        break;
    default: break;
    }
    Reply(taken ? kOk : kRefused);
}

void NetServer::Session::FirstTicket() {
    // The user's name is compared as a plain suffix: wildcard characters in it match only themselves.
    m_tickets.clear();
    for (const std::string& name : ListNames(TicketFolder(), "*"))
        if (EndsWithNoCase(name, TicketSuffix()))
            m_tickets.push_back(name);
    m_nextTicket = 0;
    m_searchOpen = true;
    NextTicket();
}

void NetServer::Session::NextTicket() {
    FileFindRecord record{};
    while (m_searchOpen && m_nextTicket < m_tickets.size()) {
        const std::string& name = m_tickets[m_nextTicket++];
        struct stat st;
        if (name.size() >= sizeof record.name || lstat(JoinPath(TicketFolder(), name).c_str(), &st) != 0 ||
            !S_ISREG(st.st_mode) || !HasUnreadMark(st.st_mode))
            continue;
        record.attributes = kArchiveAttribute;
        record.created = static_cast<uint32_t>(st.st_ctime);
        record.accessed = static_cast<uint32_t>(st.st_atime);
        record.written = static_cast<uint32_t>(st.st_mtime);
        record.size = static_cast<uint32_t>(st.st_size);
        memcpy(record.name, name.c_str(), name.size() + 1);
        Reply(EncodeFileFind(record));
        return;
    }
    m_searchOpen = false;
    m_tickets.clear();
    Reply(EncodeFileFind(record));
}

void NetServer::Session::FetchTicket(std::string_view frame) {
    std::string name = DecodeFetchTicketName(frame);
    // Only a ticket of this session's own user, and only a file of the Tracking folder itself.
    if (!IsPlainFileName(name) || !EndsWithNoCase(name, TicketSuffix())) {
        Reply(kFetchFailedReply);
        return;
    }
    std::string path = JoinPath(TicketFolder(), name);
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            close(fd);
        Reply(kFetchFailedReply);
        return;
    }
    std::string content(kFetchTicketLimit, '\0');
    content.resize(ReadFully(fd, content.data(), content.size()));
    close(fd);
    if (!ClearUnreadMark(path))
        PostStatus(m_console, "Unable to set file attributes");
    m_console.trackingRefresh = 1;
    Reply(EncodeFetchTicketReply(content));
}

// ---- The server ---------------------------------------------------------------------------------------------

NetServer::NetServer(Console& console, ServerTimings timings)
    : m_console(console), m_timings(timings), m_published(Directory::Create()),
      m_pageJobs(console, kSessionSlots, timings.pageJobs) {}

NetServer::~NetServer() { Stop(); }

bool NetServer::Start(int port) {
    if (m_listener.joinable() || m_console.exiting.load())
        return false;
    {
        std::lock_guard lock(m_console.databaseLock);
        for (int s = 0; s < kSessionSlots; ++s)
            FreeSlotLocked(s);
        m_published->subscribers = m_console.local->subscribers;
        m_published->groups = m_console.local->groups;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0 || m_wakeFd < 0) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t length = sizeof address;
    // A backlog deep enough that a burst of strangers does not crowd an operator's connection out of the queue
    // before the listener takes it.
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, kListenBacklog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return false;
    }
    m_pageJobs.Start();
    m_listenFd = fd;
    m_port = ntohs(address.sin_port);
    m_stop = false;
    try {
        m_listener = std::thread([this] { Listen(); });
    } catch (const std::system_error&) {
        close(fd);
        m_listenFd = -1;
        m_port = 0;
        return false;
    }
    return true;
}

void NetServer::Stop() {
    m_stop = true;
    if (m_wakeFd >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(m_wakeFd, &one, sizeof one);
    }
    if (m_listener.joinable())
        m_listener.join();
    {
        // Wakes every session out of its receive or send; each then ends as a session that lost its client.
        std::lock_guard lock(m_console.databaseLock);
        for (Slot& slot : m_slots)
            if (slot.sock >= 0)
                shutdown(slot.sock, SHUT_RDWR);
    }
    for (std::thread& thread : m_threads)
        if (thread.joinable())
            thread.join();
    m_pageJobs.Close();
    if (m_wakeFd >= 0)
        close(m_wakeFd);
    m_wakeFd = -1;
    m_port = 0;
}

void NetServer::RunSession(int s, int fd, const std::string& user, int16_t level, const std::string& rest) {
    Session(*this, s, fd, user, level, rest).Run();
}

void NetServer::FreeSlotLocked(int s) {
    Slot& slot = m_slots[s];
    slot.sock = -1;
    slot.userName.clear();
    slot.level = 0;
    slot.host.clear();
    slot.connectTime = 0;
    slot.bytesSent = 0;
    slot.bytesReceived = 0;
    slot.changedSubscribers.fill(0);
    slot.changedGroups.fill(0);
}

void NetServer::ReleaseSessionLocked(int s) {
    uint8_t mine = static_cast<uint8_t>(s + 1);
    for (SubscriberRecord& record : m_console.local->subscribers)
        if (record.LockByte == mine) {
            record.LockByte = 0;
            m_counters.locksHeld--;
        }
    CloseAbortive(m_slots[s].sock);
    FreeSlotLocked(s);
}

namespace {

// Equal for every reader of the record: the lock byte is the server's own business.
bool SameContent(const SubscriberRecord& a, const SubscriberRecord& b) {
    constexpr size_t kAfterLock = offsetof(SubscriberRecord, LockByte) + 1;
    return memcmp(&a, &b, offsetof(SubscriberRecord, LockByte)) == 0 &&
           memcmp(reinterpret_cast<const char*>(&a) + kAfterLock, reinterpret_cast<const char*>(&b) + kAfterLock,
                  sizeof a - kAfterLock) == 0;
}

} // namespace

void NetServer::PublishSubscribersLocked(int holderSession, int heldSlot) {
    const auto& now = m_console.local->subscribers;
    auto& told = m_published->subscribers;
    for (int k = 0; k < kSubscriberSlots; ++k) {
        if (SameContent(now[k], told[k]))
            continue;
        told[k] = now[k];
        for (int s = 0; s < kSessionSlots; ++s)
            if (!m_slots[s].host.empty() && !(s == holderSession && k == heldSlot))
                SetBit(m_slots[s].changedSubscribers, k);
    }
}

void NetServer::PublishGroupsLocked(int holderSession, int heldGroup) {
    const auto& now = m_console.local->groups;
    auto& told = m_published->groups;
    for (int g = 0; g < kGroupSlots; ++g) {
        if (memcmp(&now[g], &told[g], sizeof(GroupRecord)) == 0)
            continue;
        told[g] = now[g];
        for (int s = 0; s < kSessionSlots; ++s)
            if (!m_slots[s].host.empty() && !(s == holderSession && g == heldGroup))
                SetBit(m_slots[s].changedGroups, g);
    }
}

void NetServer::MarkSubscriberChanged(int exceptSlot, int subscriber) {
    std::lock_guard lock(m_console.databaseLock);
    PublishSubscribersLocked(exceptSlot, subscriber);
}

void NetServer::MarkGroupChanged(int exceptSlot, int group) {
    std::lock_guard lock(m_console.databaseLock);
    PublishGroupsLocked(exceptSlot, group);
}

void NetServer::MarkAllSubscribersChanged(int count) {
    if (count > kSubscriberSlots) {
        WriteNetworkLog(m_console, "Error in AllSubscribersChanged!");
        return;
    }
    std::lock_guard lock(m_console.databaseLock);
    PublishSubscribersLocked();
}

void NetServer::MarkAllGroupsChanged() {
    std::lock_guard lock(m_console.databaseLock);
    PublishGroupsLocked();
}

bool NetServer::SortLocalSubscribers() {
    std::lock_guard lock(m_console.databaseLock);
    bool moved = SortSubscribers(*m_console.local);
    PublishSubscribersLocked();
    return moved;
}

std::string NetServer::MonitorCommand() const {
    std::lock_guard lock(m_monitorMutex);
    return m_monitorCommand;
}

void NetServer::SetMonitorCommand(const std::string& text) {
    std::lock_guard lock(m_monitorMutex);
    m_monitorCommand = text;
}

std::vector<SessionView> NetServer::Sessions() const {
    std::vector<SessionView> views;
    std::lock_guard lock(m_console.databaseLock);
    for (int s = 0; s < kSessionSlots; ++s) {
        const Slot& slot = m_slots[s];
        if (slot.host.empty())
            continue;
        views.push_back({s, slot.userName, slot.level, slot.host, slot.connectTime, slot.bytesSent.load(),
                         slot.bytesReceived.load()});
    }
    return views;
}

std::unique_ptr<NetServer> StartServerRole(Console& console, ServerTimings timings) {
    auto server = std::make_unique<NetServer>(console, timings);
    server->Operators().LoadOperators(console.dataDir);
    int port = LanPortFromEnvironment();
    if (!server->Start(port))
        WriteNetworkLog(console, "Unable to listen on port " + std::to_string(port) + ": " + strerror(errno));
    return server;
}

} // namespace brimlow::lan
