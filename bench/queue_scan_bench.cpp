// One queue scan over a large disk queue: 10,000 page files spread over the 100 company folders, half of them
// held and half ready. A dial run is taken to be under way, so the scan only counts and decides.
#include "app/queue_scan.h"
#include "directory/data_files.h"
#include "queue/message_file.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFiles = 10000;

class QueueFixture {
public:
    QueueFixture() {
        std::string templ = (std::filesystem::temp_directory_path() / "brimlow-bench-XXXXXX").string();
        m_dir = mkdtemp(templ.data());
        const std::string page(brimlow::kMessageFileSize, '\0');
        for (int i = 0; i < kFiles; ++i) {
            int company = i % brimlow::kCompanySlots;
            std::string folder = brimlow::JoinPath(m_dir, std::to_string(company));
            mkdir(folder.c_str(), 0700);
            char name[16];
            snprintf(name, sizeof name, "%s%05d.AAA", i % 2 ? "MSQ" : "MSG", i);
            int fd = open(brimlow::JoinPath(folder, name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            if (fd >= 0) {
                (void)!write(fd, page.data(), page.size());
                close(fd);
            }
        }
        console.dataDir = m_dir;
        console.dialBusy = 1;
    }
    ~QueueFixture() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    brimlow::Console console;

private:
    std::string m_dir;
};

void BM_QueueScan(benchmark::State& state) {
    static QueueFixture fixture;
    for (auto _ : state) {
        brimlow::ScanOutcome outcome = brimlow::QueueScan(fixture.console);
        if (outcome.counts.queueCount != kFiles)
            state.SkipWithError("the scan miscounted the queue");
        benchmark::DoNotOptimize(outcome);
    }
    state.counters["files"] = kFiles;
}
BENCHMARK(BM_QueueScan)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
