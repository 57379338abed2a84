#include "app/directory_edits.h"

#include "network/server.h"
#include "queue/queue_writer.h"

namespace brimlow {
namespace {

int FindOpenEntry(const Directory& dir) {
    for (int slot = 0; slot < kSubscriberSlots; ++slot)
        if (dir.subscribers[slot].LockByte == kLockedByLocalEditor && !IsEmptyText(dir.subscribers[slot].Name))
            return slot;
    return -1;
}

void AnnounceAll(lan::NetServer* server, int subscriberCount) {
    if (!server)
        return;
    server->MarkAllGroupsChanged();
    server->MarkAllSubscribersChanged(subscriberCount);
}

} // namespace

bool SortLocalDirectory(Console& console, lan::NetServer* server) {
    if (server)
        return server->SortLocalSubscribers();
    std::lock_guard lock(console.databaseLock);
    return SortSubscribers(*console.local);
}

int AddLocalEntry(Console& console, lan::NetServer* server, const SubscriberRecord& entry) {
    SubscriberRecord record = entry;
    record.LockByte = 0;
    int slot;
    {
        std::lock_guard lock(console.databaseLock);
        slot = AddSubscriber(*console.local, record);
    }
    if (slot < 0)
        return -1;
    SortLocalDirectory(console, server);
    // Every slot up to and including the new one: when the sort moved nothing, the new entry sits in the last
    // used slot and the sessions must re-read that one too.
    if (server) {
        if (record.IsGroup())
            server->MarkAllGroupsChanged();
        server->MarkAllSubscribersChanged(slot + 1);
    }
    return slot;
}

bool OpenLocalEntry(Console& console, int tab, int row, SubscriberRecord& copy) {
    std::lock_guard lock(console.databaseLock);
    int slot = ResolveListItem(console, tab, row);
    if (slot < 0)
        return false;
    SubscriberRecord& entry = console.local->subscribers[slot];
    if (IsEmptyText(entry.Name))
        return false;
    entry.LockByte = kLockedByLocalEditor;
    copy = entry;
    return true;
}

bool CloseLocalEntry(Console& console, lan::NetServer* server, EditEnd end, const SubscriberRecord& edited) {
    int slot;
    int group;
    {
        std::lock_guard lock(console.databaseLock);
        slot = FindOpenEntry(*console.local);
        if (slot < 0)
            return false;
        SubscriberRecord& entry = console.local->subscribers[slot];
        group = GroupNumberOf(entry);
        if (end == EditEnd::Store) {
            entry = edited;
            group = GroupNumberOf(entry);
        }
        entry.LockByte = 0;
        if (end == EditEnd::Delete)
            DeleteSubscriberEntry(*console.local, slot);
    }
    if (end == EditEnd::Delete) {
        AnnounceAll(server, kSubscriberSlots);
        return true;
    }
    if (end == EditEnd::Store)
        SortLocalDirectory(console, server);
    if (server) {
        if (end == EditEnd::Store)
            server->MarkSubscriberChanged(-1, slot);
        // The Group dialog edits the members in place, even when it hands back nothing to save.
        if (group != 0)
            server->MarkGroupChanged(-1, group);
    }
    return true;
}

bool DeleteLocalEntry(Console& console, lan::NetServer* server, int slot) {
    {
        std::lock_guard lock(console.databaseLock);
        if (!DeleteSubscriberEntry(*console.local, slot))
            return false;
    }
    AnnounceAll(server, kSubscriberSlots);
    return true;
}

} // namespace brimlow
