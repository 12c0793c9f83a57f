#include "fuzz/in_memory_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orlenta::fuzz {

InMemoryFile::InMemoryFile(std::string_view bytes) {
    fd_ = ::memfd_create("orlenta-fuzz", MFD_CLOEXEC);
    if (fd_ < 0) {
        error_ = std::strerror(errno);
        return;
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error_ = std::strerror(errno);
            return;
        }
        written += static_cast<std::size_t>(n);
    }
}

InMemoryFile::~InMemoryFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int InMemoryFile::rewound() const {
    ::lseek(fd_, 0, SEEK_SET);
    return fd_;
}

}  // namespace orlenta::fuzz
