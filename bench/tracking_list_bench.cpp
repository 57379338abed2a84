// The tracking list over a full Tracking folder of 500 tickets, some with new replies, every age up to two days:
// the rebuild alone, and the window's refresh of its list widget, which the timer runs whenever a check stores
// replies.
#include "directory/data_files.h"
#include "tracking/ticket.h"
#include "tracking/tracking_list.h"
#include "tracking/unread_mark.h"
#include "ui/tracking_panel.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <filesystem>
#include <string>
#include <sys/time.h>

namespace {

constexpr int kTickets = 500;

class TrackingFixture {
public:
    TrackingFixture() {
        std::string templ = (std::filesystem::temp_directory_path() / "brimlow-bench-XXXXXX").string();
        m_dir = mkdtemp(templ.data());
        console.dataDir = m_dir;
        const time_t now = time(nullptr);
        for (int i = 0; i < kTickets; ++i) {
            std::string name = "Subscriber " + std::to_string(i) + "." + std::to_string(100000 + i) + ".5.3";
            brimlow::CreateTicket(console, name, "960 31337 5 OK", "Desk", "12", "Hi");
            std::string path = brimlow::TicketPath(console, name);
            time_t written = now - (i * 300) % brimlow::kTicketLifetimeSeconds;
            timeval times[2] = {{written, 0}, {written, 0}};
            utimes(path.c_str(), times);
            if (i % 3)
                brimlow::ClearUnreadMark(path);
        }
    }
    ~TrackingFixture() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    brimlow::Console console;

private:
    std::string m_dir;
};

TrackingFixture& Fixture() {
    static TrackingFixture fixture;
    return fixture;
}

void BM_RebuildTrackingList(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<brimlow::TrackingEntry> entries = brimlow::RebuildTrackingList(Fixture().console);
        if (entries.size() != kTickets)
            state.SkipWithError("the rebuild lost tickets");
        benchmark::DoNotOptimize(entries);
    }
    state.counters["tickets"] = kTickets;
}
BENCHMARK(BM_RebuildTrackingList)->Unit(benchmark::kMillisecond);

void BM_RefreshTrackingPanel(benchmark::State& state) {
    brimlow::TrackingPanel panel(Fixture().console);
    panel.resize(320, 400);
    panel.show();
    for (auto _ : state) {
        panel.RefreshTracking();
        QApplication::processEvents(); // lays out and paints the new rows
    }
    state.counters["tickets"] = kTickets;
}
BENCHMARK(BM_RefreshTrackingPanel)->Unit(benchmark::kMillisecond);

} // namespace
