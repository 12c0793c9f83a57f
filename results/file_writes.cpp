#include "results/file_writes.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace orlenta {

namespace {

// True when the call that set errno may simply be made again.
bool Retry(int fd) {
    if (errno == EINTR) {
        return true;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
        return false;
    }
    pollfd ready{fd, POLLOUT, 0};
    int got = 0;
    do {
        got = ::poll(&ready, 1, -1);
    } while (got < 0 && errno == EINTR);
    // An error or hang-up shows in the next write's own errno (EPIPE, ...).
    return got >= 0;
}

// `offset` null: at the descriptor's own offset.
bool WriteLoop(int fd, const char* data, std::size_t size, off_t* offset) {
    while (size > 0) {
        const ssize_t written =
            offset == nullptr ? ::write(fd, data, size) : ::pwrite(fd, data, size, *offset);
        if (written < 0) {
            if (Retry(fd)) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        if (offset != nullptr) {
            *offset += written;
        }
    }
    return true;
}

}  // namespace

int OpenRetrying(const std::string& path, int flags, mode_t mode) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    return WriteLoop(fd, data, size, nullptr);
}

bool WriteAllAt(int fd, const char* data, std::size_t size, off_t offset) {
    return WriteLoop(fd, data, size, &offset);
}

}  // namespace orlenta
