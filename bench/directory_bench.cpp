// The directory's table operations on a full subscriber table (2,000 entries), each beside its floor:
//   - the sort of a reversed table and of a sorted table with one entry renamed to sort last, against
//     std::stable_sort of the slot indexes by the same comparison (the records themselves not moved);
//   - the expansion of a group of 200 members, against 200 look-ups in a name index built beforehand.
#include "bench/full_directory.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <numeric>
#include <vector>

namespace brimlow {
namespace {

std::unique_ptr<Directory> FullTable() {
    auto dir = Directory::Create();
    char name[32];
    for (int s = 0; s < kSubscriberSlots; ++s) {
        snprintf(name, sizeof name, "Subscriber %04d", s);
        SetText(dir->subscribers[s].Name, name);
        SetText(dir->subscribers[s].PIN, std::to_string(100000 + s));
    }
    return dir;
}

enum Shape { kReversed, kOneRenamed };

void Prepare(Directory& dir, int shape) {
    if (shape == kReversed)
        std::reverse(dir.subscribers.begin(), dir.subscribers.end());
    else
        SetText(dir.subscribers[0].Name, "Zulu");
}

void BM_SortSubscribers(benchmark::State& state) {
    auto sorted = FullTable();
    auto dir = Directory::Create();
    for (auto _ : state) {
        state.PauseTiming();
        *dir = *sorted;
        Prepare(*dir, static_cast<int>(state.range(0)));
        state.ResumeTiming();
        benchmark::DoNotOptimize(SortSubscribers(*dir));
    }
}
BENCHMARK(BM_SortSubscribers)->ArgName("one_renamed")->Arg(kReversed)->Arg(kOneRenamed)->Unit(benchmark::kMicrosecond);

// The floor: the order alone, as std::stable_sort of indexes finds it.
void BM_StableSortOfIndexes(benchmark::State& state) {
    auto dir = FullTable();
    Prepare(*dir, static_cast<int>(state.range(0)));
    std::vector<int> order(kSubscriberSlots);
    for (auto _ : state) {
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return CompareNamesNoCase(dir->subscribers[a].Name, dir->subscribers[b].Name) < 0;
        });
        benchmark::DoNotOptimize(order.data());
    }
}
BENCHMARK(BM_StableSortOfIndexes)
    ->ArgName("one_renamed")
    ->Arg(kReversed)
    ->Arg(kOneRenamed)
    ->Unit(benchmark::kMicrosecond);

std::unique_ptr<Directory> FullDirectory() {
    auto dir = Directory::Create();
    bench::FillFullDirectory(*dir);
    return dir;
}

int GroupEntry(const Directory& dir) {
    for (int s = 0; s < kSubscriberSlots; ++s)
        if (dir.subscribers[s].IsGroup())
            return s;
    return -1;
}

void BM_ExpandGroupOf200(benchmark::State& state) {
    auto dir = FullDirectory();
    int entry = GroupEntry(*dir);
    int64_t found = 0;
    for (auto _ : state)
        ExpandEntry(*dir, entry, [&](int) { return ++found, true; });
    state.counters["recipients"] = benchmark::Counter(static_cast<double>(found), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ExpandGroupOf200)->Unit(benchmark::kMicrosecond);

// The floor: the same 200 names looked up in an index that already exists.
void BM_LookUpInABuiltIndex(benchmark::State& state) {
    auto dir = FullDirectory();
    const GroupRecord& group = dir->groups[-dir->subscribers[GroupEntry(*dir)].Company];
    std::vector<std::pair<std::string_view, int>> index;
    for (int s = 0; s < kSubscriberSlots; ++s)
        index.emplace_back(dir->subscribers[s].Name, s);
    std::stable_sort(index.begin(), index.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    int64_t found = 0;
    for (auto _ : state)
        for (int m = 0; m < kGroupMembers; ++m) {
            std::string_view name = group.Members[m];
            auto it = std::lower_bound(index.begin(), index.end(), name,
                                       [](const auto& item, std::string_view key) { return item.first < key; });
            for (; it != index.end() && it->first == name; ++it)
                benchmark::DoNotOptimize(++found);
        }
}
BENCHMARK(BM_LookUpInABuiltIndex)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace brimlow

BENCHMARK_MAIN();
