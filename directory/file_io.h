#pragma once
// Whole reads and writes on a descriptor, retrying interrupted and partial calls.
#include <cstddef>

namespace brimlow {

// Reads until size bytes or the end of the file; returns the bytes read.
size_t ReadFully(int fd, void* buffer, size_t size);
// True when every byte was written.
bool WriteFully(int fd, const void* data, size_t size);

} // namespace brimlow
