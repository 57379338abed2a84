#pragma once
// The company, subscriber and group tables, and the operations that every editor of them shares (the window,
// the network server and the import), so that each invariant is kept in exactly one place.
#include "directory/records.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace brimlow {

struct Directory {
    std::array<CompanyRecord, kCompanySlots> companies;
    std::array<SubscriberRecord, kSubscriberSlots> subscribers;
    std::array<GroupRecord, kGroupSlots> groups;

    Directory() { Clear(); }
    void Clear();
    static std::unique_ptr<Directory> Create() { return std::make_unique<Directory>(); }
};

// The signature as held in memory: one more byte than the file, so a full 100-character text stays terminated.
struct Signature {
    char Text[101];
    int32_t Attach;
};

// Name comparison of the sorted subscriber table and the group member lists: ASCII letters only, so the
// order does not depend on the locale.
int CompareNamesNoCase(std::string_view a, std::string_view b);

inline bool IsValidCompanyIndex(int company) { return company >= 0 && company < kCompanySlots; }
inline bool IsValidGroupNumber(int group) { return group >= 1 && group < kGroupSlots; }
inline bool IsValidSubscriberSlot(int slot) { return slot >= 0 && slot < kSubscriberSlots; }

// Slot count of the compact subscriber table: the index of the first slot with an empty Name.
int UsedSubscriberSlots(const Directory& dir);

// Sorts the subscriber slots up to the last used one by Name without regard to case, stable (equal names keep
// their order), in O(n log n), copying each record once. Empty slots among them go after the used ones: sorted
// first, an empty slot would end the table for every reader that stops at the first empty Name. Returns true
// when any record moved.
bool SortSubscribers(Directory& dir);

// The same order for a group's member names up to its last non-empty one; empty names go last.
bool SortGroupMembers(GroupRecord& group);

// Copies the record into the first free subscriber slot; -1 when the table is full (nothing is written).
int AddSubscriber(Directory& dir, const SubscriberRecord& record);

// Removes a subscriber or group entry and keeps the table compact; a group entry empties its members first.
// Returns false for a slot out of range.
bool DeleteSubscriberEntry(Directory& dir, int slot);

// Removes company k, moves the later companies down and renumbers every subscriber of the table.
bool DeleteCompany(Directory& dir, int company);

// The first group number 1..199 whose slot is free, or 0 when all are in use.
int AllocateGroupNumber(const Directory& dir);

// Group number of a group entry, or 0 when the entry is no group or names a group slot out of range.
int GroupNumberOf(const SubscriberRecord& entry);

// The Group dialog's member edits: a name put into the first empty position (false when all 200 are used), and
// a position removed with the later names moved up.
bool AddGroupMember(GroupRecord& group, const std::string& name);
void RemoveGroupMember(GroupRecord& group, int position);

// Calls deliver(slot) for the entry itself, or, for a group entry, for every slot whose Name equals one of the
// group's member names exactly, member by member, in slot order. deliver returns false to stop the walk.
// Returns false when the walk was stopped.
bool ExpandEntry(const Directory& dir, int slot, const std::function<bool(int slot)>& deliver);

} // namespace brimlow
