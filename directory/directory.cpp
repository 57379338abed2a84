#include "directory/directory.h"

#include <cstring>
#include <utility>

namespace brimlow {

void Directory::Clear() {
    memset(companies.data(), 0, sizeof(companies));
    memset(subscribers.data(), 0, sizeof(subscribers));
    memset(groups.data(), 0, sizeof(groups));
}

int CompareNamesNoCase(const char* a, const char* b) {
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    for (;; ++a, ++b) {
        int ca = lower(static_cast<unsigned char>(*a));
        int cb = lower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

int UsedSubscriberSlots(const Directory& dir) {
    int n = 0;
    while (n < kSubscriberSlots && !IsEmptyText(dir.subscribers[n].Name))
        ++n;
    return n;
}

bool SortSubscribers(Directory& dir) {
    int last = kSubscriberSlots - 1;
    while (last >= 0 && IsEmptyText(dir.subscribers[last].Name))
        --last;
    bool movedAny = false;
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (int j = last; j > 0; --j) {
            SubscriberRecord& lo = dir.subscribers[j - 1];
            SubscriberRecord& hi = dir.subscribers[j];
            if (CompareNamesNoCase(lo.Name, hi.Name) > 0) {
                std::swap(lo, hi);
                swapped = movedAny = true;
            }
        }
    }
    return movedAny;
}

int AddSubscriber(Directory& dir, const SubscriberRecord& record) {
    for (int slot = 0; slot < kSubscriberSlots; ++slot) {
        if (IsEmptyText(dir.subscribers[slot].Name)) {
            dir.subscribers[slot] = record;
            return slot;
        }
    }
    return -1;
}

bool DeleteSubscriberEntry(Directory& dir, int slot) {
    if (!IsValidSubscriberSlot(slot))
        return false;
    if (int group = GroupNumberOf(dir.subscribers[slot]))
        memset(&dir.groups[group], 0, sizeof(GroupRecord));
    memmove(&dir.subscribers[slot], &dir.subscribers[slot + 1],
            sizeof(SubscriberRecord) * (kSubscriberSlots - 1 - slot));
    memset(&dir.subscribers[kSubscriberSlots - 1], 0, sizeof(SubscriberRecord));
    return true;
}

bool DeleteCompany(Directory& dir, int company) {
    if (!IsValidCompanyIndex(company))
        return false;
    memmove(&dir.companies[company], &dir.companies[company + 1],
            sizeof(CompanyRecord) * (kCompanySlots - 1 - company));
    memset(&dir.companies[kCompanySlots - 1], 0, sizeof(CompanyRecord));
    for (SubscriberRecord& s : dir.subscribers) {
        if (s.Company == company)
            s.Company = 0;
        else if (s.Company > company)
            s.Company -= 1;
    }
    return true;
}

int AllocateGroupNumber(const Directory& dir) {
    for (int g = 1; g < kGroupSlots; ++g)
        if (IsEmptyText(dir.groups[g].Members[0]))
            return g;
    return 0;
}

int GroupNumberOf(const SubscriberRecord& entry) {
    if (entry.Company >= 0)
        return 0;
    // -INT32_MIN does not exist; anything beyond the table is no group slot at all.
    int64_t group = -static_cast<int64_t>(entry.Company);
    return IsValidGroupNumber(static_cast<int>(group > kGroupSlots ? 0 : group)) ? static_cast<int>(group) : 0;
}

void SortGroupMembers(GroupRecord& group) {
    int last = kGroupMembers - 1;
    while (last >= 0 && IsEmptyText(group.Members[last]))
        --last;
    auto after = [](const char* a, const char* b) {
        if (*a == '\0' || *b == '\0')
            return *a == '\0' && *b != '\0';
        return CompareNamesNoCase(a, b) > 0;
    };
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (int j = 0; j < last; ++j) {
            if (after(group.Members[j], group.Members[j + 1])) {
                std::swap(group.Members[j], group.Members[j + 1]);
                swapped = true;
            }
        }
    }
}

bool AddGroupMember(GroupRecord& group, const std::string& name) {
    for (auto& member : group.Members) {
        if (IsEmptyText(member)) {
            SetText(member, name);
            return true;
        }
    }
    return false;
}

void RemoveGroupMember(GroupRecord& group, int position) {
    if (position < 0 || position >= kGroupMembers)
        return;
    memmove(group.Members[position], group.Members[position + 1],
            sizeof(group.Members[0]) * (kGroupMembers - 1 - position));
    memset(group.Members[kGroupMembers - 1], 0, sizeof(group.Members[0]));
}

bool ExpandEntry(const Directory& dir, int slot, const std::function<bool(int slot)>& deliver) {
    if (!IsValidSubscriberSlot(slot))
        return true;
    const SubscriberRecord& entry = dir.subscribers[slot];
    if (!entry.IsGroup())
        return deliver(slot);
    int group = GroupNumberOf(entry);
    if (group == 0)
        return true;
    const GroupRecord& members = dir.groups[group];
    for (int m = 0; m < kGroupMembers; ++m) {
        std::string name = GetText(members.Members[m]);
        if (name.empty())
            break;
        for (int s = 0; s < kSubscriberSlots; ++s) {
            const SubscriberRecord& match = dir.subscribers[s];
            // A group entry is never a recipient itself: groups do not nest.
            if (!match.IsGroup() && GetText(match.Name) == name && !deliver(s))
                return false;
        }
    }
    return true;
}

} // namespace brimlow
