#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace orlenta {

// Owns one file descriptor and closes it when it goes, on every way out:
//   UniqueFd file(::open(path, O_RDONLY | O_CLOEXEC));
//   if (!file) { report(errno); }
//   ::read(file.get(), ...);
// Moving hands the descriptor over; release() gives it up without closing it.
class UniqueFd final {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }

    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    int release() { return std::exchange(fd_, -1); }

    // Closes the descriptor held, if any, and holds `fd`. errno is kept: a caller reporting
    // why something failed must not see close()'s answer instead.
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            const int saved = errno;
            ::close(fd_);
            errno = saved;
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

}  // namespace orlenta
