#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace platform {

// Writes the whole buffer, retrying short writes and interrupted calls.
inline bool writeAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace platform
