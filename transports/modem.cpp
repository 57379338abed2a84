#include "transports/modem.h"

#include "directory/data_files.h"
#include "directory/file_io.h"
#include "queue/queue_count.h"
#include "queue/queue_writer.h"
#include "queue/status.h"
#include "serial/serial_facade.h"
#include "transports/tap_session.h"
#include "transports/trace.h"

#include <fcntl.h>
#include <unistd.h>

namespace brimlow {
namespace {

constexpr int kDialPassMs = 10;
constexpr int kModemPauseMs = 1000;
constexpr int kTxFullPauseMs = 100;
constexpr size_t kModemLineBuffer = 80;

// Clears the dial-busy flag when the dial thread ends, whichever way it ends.
struct DialBusyRelease {
    Console& console;
    ~DialBusyRelease() { console.dialBusy = 0; }
};

bool ClaimDialer(Console& console, int companyIndex) {
    int idle = 0;
    return console.dialBusy.compare_exchange_strong(idle, companyIndex + 1);
}

std::string Format(const char* format, int a, int b) {
    char text[96];
    snprintf(text, sizeof text, format, a, b);
    return text;
}

// Waits for the modem's answer to the dial command. True when it answered CONNECT.
bool WaitForConnect(Console& console, SerialPort& port) {
    Clock& clock = *console.clock;
    const time_t dialled = clock.Now();
    std::string line;
    line.reserve(kModemLineBuffer);
    while (clock.Now() - dialled < kModemResultSeconds && !console.exiting) {
        clock.SleepMs(kDialPassMs);
        if (IsRxEmpty(port))
            continue;
        int c = ReadChar(port);
        if (c < 0)
            continue;
        line += static_cast<char>(c);
        if (line.size() >= kModemResultLine) {
            PostStatus(console, line);
            line.clear();
        } else if (c == '\r' || c == '\n') {
            line.pop_back();
            TraceBytes(TraceArea::Tap, false, line);
            if (!line.empty())
                PostStatus(console, line);
            if (line.find("CONNECT") != std::string::npos)
                return true;
            if (line.find("CARRIER") != std::string::npos || line.find("BUSY") != std::string::npos ||
                line.find("DIAL") != std::string::npos) {
                PostStatus(console, line);
                return false;
            }
            line.clear();
        }
    }
    return false;
}

void Dial(Console& console, DialJob& job) {
    Clock& clock = *console.clock;
    if (!job.queued) {
        std::lock_guard lock(console.databaseLock);
        job.snapshot = (job.networkTab ? *console.network : *console.local).companies[job.companyIndex];
    }
    const CompanyRecord& company = job.snapshot;
    ModemSettings modem;
    {
        std::lock_guard lock(console.databaseLock);
        modem = console.modem;
    }
    const Settings settings = console.settings.Get();
    SerialPort* port =
        SerialOpen(SerialDeviceFor(settings.ComDevice, company.Port), company.Port, company.Baud, 'E', 7, 1);
    if (port->status < 0) {
        PostStatus(console, Format("Failed to open port %d.  Status = %d", company.Port + 1, port->status));
        ClosePort(*port);
        return;
    }
    SendModemString(console, *port, "\r");
    clock.SleepMs(kModemSettleMs);
    SendModemString(console, *port, GetText(modem.InitString) + "\r");
    clock.SleepMs(kModemSettleMs);
    DrainInput(*port);
    PurgeTx(*port);
    PostStatus(console, "Calling " + GetText(company.Name) + "...");
    SendModemString(console, *port, GetText(modem.DialPrefix) + " " + GetText(company.Phone) + "\r");
    if (WaitForConnect(console, *port)) {
        PostStatus(console, "Starting TAP!");
        RunTapSession(console, *port, job);
    }
    // Dropping DTR on close hangs the modem up.
    ClosePort(*port);
}

} // namespace

void SendModemString(Console& console, SerialPort& port, const std::string& text) {
    Clock& clock = *console.clock;
    TraceBytes(TraceArea::Tap, true, text);
    for (char c : text) {
        if (c == '^') {
            clock.SleepMs(kModemPauseMs);
        } else if (c == '|') {
            SetDtr(port, false);
            clock.SleepMs(kModemPauseMs);
            SetDtr(port, true);
        } else {
            WriteChar(port, c == '~' ? '\r' : c);
        }
        while (IsTxFull(port))
            clock.SleepMs(0);
    }
    while (IsTxFull(port))
        clock.SleepMs(0);
}

void SendBlockString(Console& console, SerialPort& port, const std::string& text) {
    Clock& clock = *console.clock;
    for (char c : text) {
        WriteChar(port, c);
        while (IsTxFull(port))
            clock.SleepMs(kTxFullPauseMs);
    }
    while (IsTxFull(port))
        clock.SleepMs(kTxFullPauseMs);
}

std::string DialJobFolder(const Console& console, const DialJob& job) {
    std::string company = std::to_string(job.companyIndex);
    if (!job.queued)
        return JoinPath(console.dataDir, company);
    return JoinPath(JoinPath(JoinPath(console.dataDir, kQueueFolder), job.queueEntry), company);
}

void RunDialJob(Console& console, const DialJob& job) {
    DialBusyRelease release{console};
    DialJob copy = job;
    Dial(console, copy);
}

namespace {

// The dialer is claimed; a thread that cannot be started gives the claim back, and the next scan tries again.
bool StartDialThread(Console& console, const DialJob& job) {
    if (console.StartWorker([&console, job] { RunDialJob(console, job); }))
        return true;
    console.dialBusy = 0;
    return false;
}

} // namespace

bool StartDirectDial(Console& console, int companyIndex) {
    int busy = console.dialBusy.load();
    if (busy != 0)
        return busy == companyIndex + 1;
    if (!IsValidCompanyIndex(companyIndex) || !ClaimDialer(console, companyIndex))
        return false;
    DialJob job;
    job.companyIndex = companyIndex;
    job.networkTab = console.currentTab.load() == kNetworkTab ? 1 : 0;
    return StartDialThread(console, job);
}

bool StartQueuedDial(Console& console, const std::string& entry, int companyIndex) {
    int busy = console.dialBusy.load();
    if (busy != 0)
        return busy == companyIndex + 1;
    if (!IsValidCompanyIndex(companyIndex) || !IsSafeQueueEntryName(entry))
        return false;
    DialJob job;
    job.companyIndex = companyIndex;
    job.queued = 1;
    job.queueEntry = entry;
    int fd = open(JoinPath(DialJobFolder(console, job), kCompanyDatFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t got = ReadFully(fd, &job.snapshot, sizeof job.snapshot);
    close(fd);
    if (got != sizeof job.snapshot)
        return false; // a torn record would dial garbage
    job.snapshot.Port = static_cast<int16_t>(console.settings.Get().ModemPort);
    if (!ClaimDialer(console, companyIndex))
        return false;
    return StartDialThread(console, job);
}

} // namespace brimlow
