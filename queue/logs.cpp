#include "queue/logs.h"

#include "directory/data_files.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace brimlow {

std::string FormatLogEntry(const struct tm& local, const std::string& text) {
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%2d/%02d/%02d %2d:%02d ", local.tm_mon + 1, local.tm_mday, local.tm_year % 100,
             local.tm_hour, local.tm_min);
    std::string entry = stamp;
    for (char c : text) {
        if (c == '\n')
            entry += "\r\n";
        else
            entry += c;
    }
    entry += "\r\n";
    return entry;
}

int WriteLogEntry(Console& console, const char* fileName, const std::string& text) {
    time_t now = console.clock->Now();
    struct tm local{};
    localtime_r(&now, &local);
    std::string entry = FormatLogEntry(local, text);
    std::string path = JoinPath(console.dataDir, fileName);

    std::lock_guard lock(console.logLock);
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return 0;
    // One write per entry: O_APPEND keeps entries of other processes whole too.
    ssize_t n = write(fd, entry.data(), entry.size());
    close(fd);
    return n == static_cast<ssize_t>(entry.size()) ? 1 : 0;
}

std::string FormatGrouped(uint64_t value) {
    std::string digits = std::to_string(value);
    size_t n = digits.size();
    if (n >= 19)
        return "ERROR";
    size_t lead = n - 3 * ((n - 1) / 3);
    std::string out = digits.substr(0, lead);
    for (size_t pos = lead; pos < n; pos += 3)
        out += "," + digits.substr(pos, 3);
    return out;
}

} // namespace brimlow
