#include "queue/message_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace brimlow {
namespace {

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

size_t ReadAll(int fd, char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

} // namespace

bool WriteMessageFile(int fd, const SubscriberRecord& record, const std::string& text) {
    char buffer[kMessageFileSize] = {};
    memcpy(buffer, &record, sizeof record);
    memcpy(buffer + sizeof record, text.data(), std::min(text.size(), kMessageTextSize - 1));
    return WriteAll(fd, buffer, sizeof buffer);
}

std::optional<MessageFile> ReadMessageFile(const std::string& path, size_t maxText) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    MessageFile file{};
    size_t got = ReadAll(fd, reinterpret_cast<char*>(&file.record), sizeof file.record);
    std::string text(maxText, '\0');
    size_t textBytes = got == sizeof file.record ? ReadAll(fd, text.data(), maxText) : 0;
    close(fd);
    if (got != sizeof file.record)
        return std::nullopt;
    text.resize(strnlen(text.data(), textBytes));
    file.text = std::move(text);
    return file;
}

} // namespace brimlow
