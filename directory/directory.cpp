#include "directory/directory.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

namespace brimlow {

void Directory::Clear() {
    memset(companies.data(), 0, sizeof(companies));
    memset(subscribers.data(), 0, sizeof(subscribers));
    memset(groups.data(), 0, sizeof(groups));
}

int CompareNamesNoCase(std::string_view a, std::string_view b) {
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    for (size_t i = 0;; ++i) {
        int ca = i < a.size() ? lower(static_cast<unsigned char>(a[i])) : 0;
        int cb = i < b.size() ? lower(static_cast<unsigned char>(b[i])) : 0;
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

namespace {

template <size_t N> std::string_view TextView(const char (&field)[N]) { return {field, strnlen(field, N)}; }

// The slot each name goes to: stable, without regard to case, empty names after all others.
std::vector<int> SortedOrder(const std::vector<std::string_view>& names) {
    std::vector<int> order(names.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&names](int a, int b) {
        if (names[a].empty() || names[b].empty())
            return !names[a].empty() && names[b].empty();
        return CompareNamesNoCase(names[a], names[b]) < 0;
    });
    return order;
}

// Puts item order[k] into slot k by following each cycle of the permutation: every item is copied once, and one
// item per cycle goes through a spare. Returns true when any item moved.
template <typename Item> bool Permute(Item* items, const std::vector<int>& order) {
    bool moved = false;
    std::vector<bool> placed(order.size());
    for (size_t start = 0; start < order.size(); ++start) {
        if (placed[start] || order[start] == static_cast<int>(start))
            continue;
        moved = true;
        alignas(Item) unsigned char spare[sizeof(Item)];
        memcpy(spare, &items[start], sizeof(Item));
        size_t slot = start;
        for (size_t from; (from = static_cast<size_t>(order[slot])) != start; slot = from) {
            memcpy(&items[slot], &items[from], sizeof(Item));
            placed[slot] = true;
        }
        memcpy(&items[slot], spare, sizeof(Item));
        placed[slot] = true;
    }
    return moved;
}

} // namespace

bool SortSubscribers(Directory& dir) {
    int used = kSubscriberSlots;
    while (used > 0 && IsEmptyText(dir.subscribers[used - 1].Name))
        --used;
    std::vector<std::string_view> names(used);
    for (int k = 0; k < used; ++k)
        names[k] = TextView(dir.subscribers[k].Name);
    return Permute(dir.subscribers.data(), SortedOrder(names));
}

bool SortGroupMembers(GroupRecord& group) {
    int used = kGroupMembers;
    while (used > 0 && IsEmptyText(group.Members[used - 1]))
        --used;
    std::vector<std::string_view> names(used);
    for (int m = 0; m < used; ++m)
        names[m] = TextView(group.Members[m]);
    return Permute(group.Members, SortedOrder(names));
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
    // The recipients by name, in slot order within a name, looked up once per member: comparing every member
    // with every slot costs 400,000 comparisons for a full group. A group entry is never a recipient itself:
    // groups do not nest.
    std::vector<std::pair<std::string_view, int>> byName;
    byName.reserve(kSubscriberSlots);
    for (int s = 0; s < kSubscriberSlots; ++s)
        if (!dir.subscribers[s].IsGroup() && !IsEmptyText(dir.subscribers[s].Name))
            byName.emplace_back(TextView(dir.subscribers[s].Name), s);
    std::stable_sort(byName.begin(), byName.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const GroupRecord& members = dir.groups[group];
    for (int m = 0; m < kGroupMembers && !IsEmptyText(members.Members[m]); ++m) {
        std::string_view name = TextView(members.Members[m]);
        auto first = std::lower_bound(byName.begin(), byName.end(), name,
                                      [](const auto& item, std::string_view key) { return item.first < key; });
        for (auto it = first; it != byName.end() && it->first == name; ++it)
            if (!deliver(it->second))
                return false;
    }
    return true;
}

} // namespace brimlow
