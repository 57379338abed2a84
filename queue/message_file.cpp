#include "queue/message_file.h"

#include "directory/file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace brimlow {

std::string MessageFileBytes(const SubscriberRecord& record, const std::string& text) {
    std::string bytes(kMessageFileSize, '\0');
    memcpy(bytes.data(), &record, sizeof record);
    memcpy(bytes.data() + sizeof record, text.data(), std::min(text.size(), kMessageTextSize - 1));
    return bytes;
}

bool WriteMessageFile(int fd, const SubscriberRecord& record, const std::string& text) {
    std::string bytes = MessageFileBytes(record, text);
    return WriteFully(fd, bytes.data(), bytes.size());
}

std::optional<MessageFile> ReadMessageFile(int fd, size_t maxText) {
    MessageFile file{};
    if (ReadFully(fd, reinterpret_cast<char*>(&file.record), sizeof file.record) != sizeof file.record)
        return std::nullopt;
    std::string text(maxText, '\0');
    size_t textBytes = ReadFully(fd, text.data(), maxText);
    text.resize(strnlen(text.data(), textBytes));
    file.text = std::move(text);
    return file;
}

std::optional<MessageFile> ReadMessageFile(const std::string& path, size_t maxText) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<MessageFile> file = ReadMessageFile(fd, maxText);
    close(fd);
    return file;
}

} // namespace brimlow
