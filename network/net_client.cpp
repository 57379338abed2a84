#include "network/net_client.h"

#include "directory/data_files.h"
#include "directory/file_io.h"
#include "queue/logs.h"
#include "queue/status.h"
#include "tracking/ticket.h"
#include "tracking/unread_mark.h"
#include "transports/socket_lines.h"

#include <cstdlib>

namespace brimlow {
namespace {

constexpr size_t kLoginReplyLimit = 10;
constexpr size_t kAddGroupReplyLimit = 20;
constexpr size_t kPageReplyLimit = 100;
constexpr int kMaxGroupIndex = kGroupSlots - 1;

int DecimalValue(const std::string& text) { return lan::ReplyValue(text); }

// The decimal value of digits only ("042" is 42); -1 when any byte is no digit. Lengths and counts decide how
// many bytes are read next, so nothing else is taken for one.
int ParseDigits(const char* bytes, size_t size) {
    int value = 0;
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] < '0' || bytes[i] > '9')
            return -1;
        value = value * 10 + (bytes[i] - '0');
    }
    return value;
}

// Records leave without a lock byte: the server stores the carried one, and only it may lock.
SubscriberRecord Unlocked(SubscriberRecord record) {
    record.LockByte = 0;
    return record;
}

bool IsGroupIndex(int group) { return group >= 0 && group <= kMaxGroupIndex; }

// Text fields of a record from the wire end inside their arrays whatever the server sent.
void TerminateTexts(CompanyRecord& c) {
    c.Name[sizeof c.Name - 1] = '\0';
    c.Address[sizeof c.Address - 1] = '\0';
    c.Phone[sizeof c.Phone - 1] = '\0';
}

} // namespace

int LanPort() {
    const char* text = getenv(lan::kLanPortEnv);
    if (text && *text) {
        char* end = nullptr;
        long port = strtol(text, &end, 10);
        if (*end == '\0' && port > 0 && port < 65536)
            return static_cast<int>(port);
    }
    return lan::kLanPort;
}

bool IsSafeTicketName(const std::string& name) {
    if (name.empty() || name.size() >= sizeof(FileFindRecord::name) || name == "." || name == "..")
        return false;
    for (char c : name)
        if (c == '/' || c == '\0' || c == lan::kEtx)
            return false;
    return true;
}

// One request and its reply under "ClientLock". A failed send, or a reply that does not arrive whole or
// cannot be read, marks the exchange failed; Finish then releases the lock and gives the connection up.
class NetClient::Exchange {
public:
    explicit Exchange(NetClient& client) : m_client(client), m_lock(client.m_clientLock) {}

    // False when the connection went away meanwhile (nothing is sent) or the send failed.
    bool Send(const std::string& frame) {
        if (m_client.m_reader.Socket() < 0) {
            m_gone = true;
            return false;
        }
        if (!SendBytes(m_client.m_reader.Socket(), frame.data(), frame.size()))
            m_failed = true;
        return !m_failed;
    }
    bool Exact(void* buffer, size_t size, bool retryOnTimeout) {
        if (m_client.m_reader.RecvExact(buffer, size, retryOnTimeout, m_client.m_timings.replyLimitMs) != size)
            m_failed = true;
        return !m_failed;
    }
    size_t Some(void* buffer, size_t size) {
        size_t n = m_client.m_reader.RecvSome(buffer, size, true, m_client.m_timings.replyLimitMs);
        if (n == 0)
            m_failed = true;
        return n;
    }
    bool Line(std::string& line, size_t maximum) {
        if (m_client.m_reader.RecvLine(line, maximum, m_client.m_timings.replyLimitMs) < 0)
            m_failed = true;
        return !m_failed;
    }
    void Fail() { m_failed = true; }
    bool Ok() const { return !m_failed && !m_gone; }

    int Finish(int result) {
        m_lock.unlock();
        if (m_failed) {
            m_client.AbortConnection();
            return 0;
        }
        return m_gone ? 0 : result;
    }

private:
    NetClient& m_client;
    std::unique_lock<std::mutex> m_lock;
    bool m_failed = false;
    bool m_gone = false;
};

NetClient::NetClient(Console& console, NetClientTimings timings)
    : m_console(console), m_timings(timings), m_port(LanPort()) {}

NetClient::~NetClient() {
    std::lock_guard lock(m_clientLock);
    CloseAbortive(m_reader.Socket());
}

int NetClient::ConnectToServer(const std::string& address, int port) {
    if (m_connected)
        return kAlreadyConnected;
    ConnectResult result = ConnectTcp(address, port, m_timings.socketTimeoutMs);
    if (result.sock < 0) {
        m_connected = false;
        return 0;
    }
    SocketReader reader(result.sock);
    std::string greeting;
    bool greeted = reader.RecvLine(greeting, lan::kGreetingLimit, m_timings.replyLimitMs) >= 0;
    // A server with every session slot taken says so and closes, and one going down closes without a word:
    // both are connections to try again later, not logins to give up on.
    std::string refused = lan::ConnectionRefusedGreeting("");
    refused.resize(refused.size() - 2); // without the line end that RecvLine has cut
    if (!greeted || greeting.rfind(refused, 0) == 0) {
        CloseAbortive(result.sock);
        return 0;
    }
    std::lock_guard lock(m_clientLock);
    if (m_connected) { // another thread connected meanwhile: keep its connection
        CloseAbortive(result.sock);
        return kAlreadyConnected;
    }
    m_reader = std::move(reader);
    m_connected = true;
    return 1;
}

int NetClient::AbortConnection() {
    std::unique_lock lock(m_clientLock);
    int result = 0;
    if (m_connected) {
        CloseAbortive(m_reader.Socket());
        m_reader = SocketReader();
        m_connected = false;
        WriteNetworkLog(m_console, kConnectionAbortedText);
        result = 1;
    }
    lock.unlock();
    m_console.reconnectWanted = 1;
    return result;
}

void NetClient::PostStatusLater(const std::string& text) {
    // The caller may be the thread that empties the mailbox (the scan): it must not wait for it.
    Console& console = m_console;
    if (!console.StartWorker([&console, text] { PostStatus(console, text); }))
        WriteStatusLog(console, text); // no thread for it: the log at least keeps the line
}

int NetClient::Login(const std::string& username, const std::string& password) {
    std::lock_guard lock(m_clientLock);
    if (m_reader.Socket() < 0 || SendText(m_reader.Socket(), lan::EncodeLogin(username, password)) < 0)
        return 0;
    std::string line;
    if (m_reader.RecvLine(line, kLoginReplyLimit, m_timings.replyLimitMs) < 0)
        return 0;
    return DecimalValue(line);
}

int NetClient::SyncWithServer() {
    // One download at a time: a second caller waits, then finds the connection made and only polls.
    std::lock_guard sync(m_syncLock);
    if (m_giveUp)
        return 0;
    if (m_connected) {
        CheckNetSubscribers();
        return 1;
    }
    {
        std::lock_guard lock(m_console.databaseLock);
        m_console.network->Clear();
    }
    Settings settings = m_console.settings.Get();
    if (ConnectToServer(settings.Server, m_port) != 1) {
        AbortConnection();
        return 0;
    }
    if (Login(settings.Username, settings.Password) != 1) {
        PostStatusLater(kLoginRefusedText);
        m_giveUp = true;
        AbortConnection();
        return 0;
    }
    for (int slot = 0; slot < kSubscriberSlots && ReadNetSubscriber(slot) == 1; ++slot) {
    }
    for (int group = 0; group < kGroupSlots; ++group)
        ReadNetGroup(group);
    ReadAllNetCompanies();
    return m_connected ? 1 : 0;
}

bool NetClient::StoreSubscriber(int slot, const std::string& text) {
    std::lock_guard lock(m_console.databaseLock);
    SubscriberRecord& copy = m_console.network->subscribers[slot];
    lan::DecodeQuotedSubscriberText(text, copy);
    copy.Tab = kNetworkTab; // whatever the server's tab, the entry belongs to the Network tab here
    return !IsEmptyText(copy.Name);
}

int NetClient::ReadNetSubscriber(int slot) {
    if (!m_connected || !IsValidSubscriberSlot(slot))
        return 0;
    Exchange ex(*this);
    char length[3];
    if (!ex.Send(lan::EncodeIndex(lan::Request::ReadCustomer, slot)) || !ex.Exact(length, sizeof length, false))
        return ex.Finish(0);
    int n = ParseDigits(length, sizeof length);
    if (n < 0) {
        ex.Fail();
        return ex.Finish(0);
    }
    if (n == 0)
        return ex.Finish(0);
    std::string text(static_cast<size_t>(n), '\0');
    if (!ex.Exact(text.data(), text.size(), false))
        return ex.Finish(0);
    return ex.Finish(StoreSubscriber(slot, text) ? 1 : 0);
}

int NetClient::ReadNetGroup(int group) {
    if (!m_connected || !IsGroupIndex(group))
        return 0;
    Exchange ex(*this);
    char count[3];
    if (!ex.Send(lan::EncodeIndex(lan::Request::ReadGroup, group)) || !ex.Exact(count, sizeof count, false))
        return ex.Finish(0);
    int m = ParseDigits(count, sizeof count);
    if (m < 0 || m > kGroupMembers) {
        ex.Fail();
        return ex.Finish(0);
    }
    std::string members(static_cast<size_t>(m) * kMemberNameSize, '\0');
    if (m > 0 && !ex.Exact(members.data(), members.size(), false))
        return ex.Finish(0);
    // A free group slot ("000") empties the copy: a group deleted on the server must not live on here.
    std::unique_lock lock(m_console.databaseLock);
    GroupRecord& copy = m_console.network->groups[group];
    lan::DecodeReadGroupMembers(members, m, copy);
    bool used = !IsEmptyText(copy.Members[0]);
    lock.unlock();
    return ex.Finish(used ? 1 : 0);
}

int NetClient::ReadNetCompany(int company) {
    if (!m_connected || !IsValidCompanyIndex(company))
        return 0;
    Exchange ex(*this);
    CompanyRecord record;
    if (!ex.Send(lan::EncodeIndex(lan::Request::ReadCompany, company)) || !ex.Exact(&record, sizeof record, true))
        return ex.Finish(0);
    TerminateTexts(record);
    {
        std::lock_guard lock(m_console.databaseLock);
        m_console.network->companies[company] = record;
    }
    return ex.Finish(IsEmptyText(record.Name) ? 0 : 1);
}

int NetClient::ReadAllNetCompanies() {
    for (int company = 0; company < kCompanySlots; ++company)
        ReadNetCompany(company);
    return 1;
}

int NetClient::CheckNetSubscribers() {
    if (!m_connected)
        return 0;
    lan::SubscriberBitmap bitmap;
    {
        Exchange ex(*this);
        if (ex.Send(lan::EncodeEmpty(lan::Request::CheckCust)))
            ex.Exact(bitmap.data(), bitmap.size(), true);
        if (ex.Finish(1) == 0)
            return 0;
    }
    int marked = 0;
    for (int slot = 0; slot < kSubscriberSlots; ++slot)
        if (lan::TestBit(bitmap, slot)) {
            ++marked;
            ReadNetSubscriber(slot);
        }
    return marked > 0 ? 1 : 0;
}

int NetClient::CheckNetGroups() {
    if (!m_connected)
        return 0;
    // Room for 250 bytes as the reply was always read; the bitmap is its first 25.
    char bitmap[lan::kSubscriberBitmapSize];
    {
        Exchange ex(*this);
        if (ex.Send(lan::EncodeEmpty(lan::Request::CheckGroup))) {
            size_t n = ex.Some(bitmap, sizeof bitmap);
            if (n > 0 && n < lan::kGroupBitmapSize)
                ex.Exact(bitmap + n, lan::kGroupBitmapSize - n, true);
        }
        if (ex.Finish(1) == 0)
            return 0;
    }
    int marked = 0;
    for (int group = 0; group < kGroupSlots; ++group)
        if (lan::TestBit(std::string_view(bitmap, lan::kGroupBitmapSize), group)) {
            ++marked;
            ReadNetGroup(group);
        }
    return marked > 0 ? 1 : 0;
}

int NetClient::StatusRequest(const std::string& frame, int notConnected, bool retryOnTimeout) {
    if (!m_connected)
        return notConnected;
    Exchange ex(*this);
    char reply[3];
    if (!ex.Send(frame) || !ex.Exact(reply, sizeof reply, retryOnTimeout))
        return ex.Finish(0);
    return ex.Finish(DecimalValue(std::string(reply, sizeof reply)));
}

int NetClient::WriteNetSubscriber(int slot) {
    if (!IsValidSubscriberSlot(slot))
        return 0;
    SubscriberRecord record;
    {
        std::lock_guard lock(m_console.databaseLock);
        record = m_console.network->subscribers[slot];
    }
    return StatusRequest(lan::EncodeWriteCustomer(slot, Unlocked(record)));
}

int NetClient::AddNetSubscriber(const SubscriberRecord& record) { return StatusRequest(lan::EncodeAddCustomer(Unlocked(record))); }

int NetClient::DeleteNetSubscriber(int slot) {
    if (!IsValidSubscriberSlot(slot))
        return 0;
    return StatusRequest(lan::EncodeIndex(lan::Request::DeleteCust, slot), 0, false);
}

int NetClient::WriteNetGroup(int group) {
    if (!m_connected)
        return kGroupNotConnected;
    if (!IsGroupIndex(group))
        return 0;
    std::string frame;
    {
        std::lock_guard lock(m_console.databaseLock);
        frame = lan::EncodeWriteGroup(group, m_console.network->groups[group]);
    }
    return StatusRequest(frame, kGroupNotConnected);
}

int NetClient::AddNetGroup(const std::string& name, int scratchGroup) {
    if (!m_connected)
        return kGroupNotConnected;
    if (!IsGroupIndex(scratchGroup))
        return 0;
    std::string frame;
    {
        std::lock_guard lock(m_console.databaseLock);
        frame = lan::EncodeAddGroup(scratchGroup, name, m_console.network->groups[scratchGroup]);
    }
    Exchange ex(*this);
    std::string line;
    if (ex.Send(frame))
        ex.Line(line, kAddGroupReplyLimit);
    if (ex.Ok()) {
        std::lock_guard lock(m_console.databaseLock);
        m_console.network->groups[scratchGroup] = GroupRecord{};
    }
    return ex.Finish(DecimalValue(line));
}

int NetClient::LockNetRecord(int slot) {
    return IsValidSubscriberSlot(slot) ? StatusRequest(lan::EncodeIndex(lan::Request::LockRecord, slot)) : 0;
}

int NetClient::UnlockNetRecord(int slot) {
    return IsValidSubscriberSlot(slot) ? StatusRequest(lan::EncodeIndex(lan::Request::UnlockRecord, slot)) : 0;
}

int NetClient::GetLockOwner(int slot, std::string& owner) {
    owner.clear();
    if (!m_connected || !IsValidSubscriberSlot(slot))
        return 0;
    Exchange ex(*this);
    char text[lan::kLockOwnerReplyLimit];
    if (!ex.Send(lan::EncodeIndex(lan::Request::LockOwner, slot)))
        return ex.Finish(0);
    size_t n = ex.Some(text, sizeof text);
    owner.assign(text, n);
    return ex.Finish(1);
}

int NetClient::GetSecurityLevel() { return StatusRequest(lan::EncodeEmpty(lan::Request::SecurityLevel), 0, false); }

int NetClient::SendServerPage(int slot, const std::string& subject, const std::string& message, int32_t pageType) {
    if (!m_connected || !IsValidSubscriberSlot(slot))
        return 0;
    Exchange ex(*this);
    char reply[kPageReplyLimit];
    if (ex.Send(lan::EncodeServerPage(slot, pageType, subject, message)))
        ex.Some(reply, sizeof reply);
    return ex.Finish(1);
}

int NetClient::SendClientPage(int localSlot, const std::string& subject, const std::string& message,
                              int32_t pageType) {
    if (!m_connected || !IsValidSubscriberSlot(localSlot))
        return 0;
    SubscriberRecord subscriber;
    CompanyRecord company;
    {
        std::lock_guard lock(m_console.databaseLock);
        subscriber = m_console.local->subscribers[localSlot];
        if (!IsValidCompanyIndex(subscriber.Company))
            return 0; // a group entry or a broken record has no company to carry
        company = m_console.local->companies[subscriber.Company];
    }
    std::string frame =
        lan::EncodeClientPage(pageType, m_console.settings.Get().Username, subject, message, company, Unlocked(subscriber));
    Exchange ex(*this);
    char reply[kPageReplyLimit];
    if (ex.Send(frame))
        ex.Some(reply, sizeof reply);
    return ex.Finish(1);
}

int NetClient::TicketRequest(lan::Request code, FileFindRecord& record) {
    record = FileFindRecord{};
    if (!m_connected)
        return 0;
    Exchange ex(*this);
    std::string received(lan::kFileFindSize, '\0');
    if (!ex.Send(lan::EncodeEmpty(code)) || !ex.Exact(received.data(), received.size(), true))
        return ex.Finish(0);
    lan::DecodeFileFind(received, record);
    return ex.Finish(IsEmptyText(record.name) ? 0 : 1);
}

int NetClient::FirstNetTicket(FileFindRecord& record) { return TicketRequest(lan::Request::FirstTicket, record); }
int NetClient::NextNetTicket(FileFindRecord& record) { return TicketRequest(lan::Request::NextTicket, record); }

int NetClient::FetchNetTicket(const std::string& name) {
    // The name comes from the server: it may only ever name a file inside the Tracking folder.
    if (!m_connected || !IsSafeTicketName(name))
        return 0;
    std::string content;
    {
        Exchange ex(*this);
        char length[4];
        if (!ex.Send(lan::EncodeFetchTicket(name)) || !ex.Exact(length, sizeof length, false))
            return ex.Finish(0);
        if (length[0] == '-')
            return ex.Finish(DecimalValue(std::string(length, sizeof length)));
        int n = ParseDigits(length, sizeof length);
        if (n < 0) {
            ex.Fail();
            return ex.Finish(0);
        }
        content.resize(static_cast<size_t>(n));
        if (n > 0 && !ex.Exact(content.data(), content.size(), false))
            return ex.Finish(0);
        if (ex.Finish(1) == 0 || n == 0)
            return 0;
    }
    // A rewritten ticket comes again: a write that fails must leave the copy that was there, not half a file.
    if (!ReplaceFileAtomically(JoinPath(m_console.dataDir, kTrackingFolder), name, content.data(), content.size()))
        return 0;
    SetUnreadMark(TicketPath(m_console, name)); // a ticket not yet looked at on this console
    return static_cast<int>(content.size());
}

} // namespace brimlow
