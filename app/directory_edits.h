#pragma once
// The console operator's own edits of the local directory (the window's Add, Edit and Delete). Each takes
// "DatabaseLock" for itself and never across a dialog, and tells the LAN sessions what to re-read; server is the
// console's NetServer, or null on a console that serves no clients.
#include "console/console.h"

namespace brimlow {

namespace lan {
class NetServer;
}

// Sorts the local subscriber table; when a record moved, every session re-reads all groups and all used slots.
bool SortLocalDirectory(Console& console, lan::NetServer* server);

// Stores a new entry (a subscriber, or a group entry whose members are in place) in the first free slot, sorts
// the table and announces the change. Returns the slot it took, -1 when the table is full (nothing is added).
int AddLocalEntry(Console& console, lan::NetServer* server, const SubscriberRecord& entry);

// Marks the entry of the list's row on a local tab as open in this console's editor (lock byte 0xFF), so that a
// LAN client's Lock Record is refused meanwhile, and copies it out. False when the row names no entry.
bool OpenLocalEntry(Console& console, int tab, int row, SubscriberRecord& copy);

enum class EditEnd {
    Keep,   // nothing to save: only the lock byte is cleared
    Store,  // the edited record takes the entry's place
    Delete, // the entry goes, with its group's members
};

// Ends the edit of the open entry, found by its lock byte wherever LAN sessions have moved it meanwhile, and
// announces the change (for a group entry also its member list). Returns false when the entry is gone.
bool CloseLocalEntry(Console& console, lan::NetServer* server, EditEnd end, const SubscriberRecord& edited = {});

// Deletes the entry of slot (a group entry's members first) and announces it. False for a slot out of range.
bool DeleteLocalEntry(Console& console, lan::NetServer* server, int slot);

} // namespace brimlow
