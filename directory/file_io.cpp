#include "directory/file_io.h"

#include <cerrno>
#include <unistd.h>

namespace brimlow {

size_t ReadFully(int fd, void* buffer, size_t size) {
    size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < size) {
        ssize_t n = read(fd, out + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

bool WriteFully(int fd, const void* data, size_t size) {
    const auto* in = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, in, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        in += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace brimlow
