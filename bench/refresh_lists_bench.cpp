// The main window's RefreshLists over a full local table of 2,000 entries (a tenth of them groups): the sort
// check, the copy under "DatabaseLock", the list rebuilt with its icons and painted, and the tracking list. The
// timer runs it whenever the LAN or a ticket asks for a refresh, every 2 s at most.
#include "ui/main_dlg.h"
#include "ui/qt_operator.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

void BM_RefreshLists(benchmark::State& state) {
    std::string templ = (std::filesystem::temp_directory_path() / "brimlow-bench-XXXXXX").string();
    std::string dir = mkdtemp(templ.data());
    brimlow::Console console;
    console.dataDir = dir;
    std::filesystem::create_directory(dir + "/Tracking");
    for (int slot = 0; slot < brimlow::kSubscriberSlots; ++slot) {
        brimlow::SubscriberRecord& record = console.local->subscribers[slot];
        char name[32];
        snprintf(name, sizeof name, "Subscriber %04d", slot);
        brimlow::SetText(record.Name, name);
        record.Company = slot % 10 == 0 ? -(1 + slot / 10 % 199) : 0;
    }
    brimlow::QtOperator op;
    op.SetScripted(true);
    console.op = &op;
    {
        brimlow::CMainDlg window(console, op);
        window.show();
        QApplication::processEvents();
        for (auto _ : state) {
            window.RefreshLists();
            QApplication::processEvents(); // lays out and paints the new rows
        }
    }
    state.counters["entries"] = brimlow::kSubscriberSlots;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_RefreshLists)->Unit(benchmark::kMillisecond);

} // namespace
