#pragma once
// A full directory for the benchmarks: 100 companies, 1,801 subscribers and 199 group entries filling the
// subscriber table, each group naming 200 of the subscribers.
#include "directory/directory.h"

#include <cstdio>
#include <string>

namespace brimlow::bench {

constexpr int kBenchSubscribers = kSubscriberSlots - (kGroupSlots - 1);

inline void FillFullDirectory(Directory& d) {
    char text[96];
    for (int c = 0; c < kCompanySlots; ++c) {
        snprintf(text, sizeof text, "Company %03d", c);
        SetText(d.companies[c].Name, text);
        SetText(d.companies[c].Address, "10.0.0.1");
        d.companies[c].Socket = 444;
    }
    for (int s = 0; s < kBenchSubscribers; ++s) {
        SubscriberRecord& r = d.subscribers[s];
        snprintf(text, sizeof text, "Subscriber %04d", s);
        SetText(r.Name, text);
        SetText(r.PIN, std::to_string(100000 + s));
        SetText(r.City, "Springfield");
        SetText(r.Email, std::string(text) + "@example.net");
        r.Company = s % kCompanySlots;
    }
    for (int g = 1; g < kGroupSlots; ++g) {
        SubscriberRecord& entry = d.subscribers[kBenchSubscribers + g - 1];
        snprintf(text, sizeof text, "Group %03d", g);
        SetText(entry.Name, text);
        entry.Company = -g;
        for (int m = 0; m < kGroupMembers; ++m) {
            snprintf(text, sizeof text, "Subscriber %04d", (g * 7 + m) % kBenchSubscribers);
            SetText(d.groups[g].Members[m], text);
        }
    }
    SortSubscribers(d);
}

} // namespace brimlow::bench
