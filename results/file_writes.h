#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace orlenta {

// The system calls an output makes, each retried where the system asks for it: on EINTR, and on
// EAGAIN from a descriptor left non-blocking by whoever opened it (a shell's standard output
// shared with a program that set O_NONBLOCK), where it waits for the reader instead of failing.
// False with errno set on failure.

int OpenRetrying(const std::string& path, int flags, mode_t mode = 0);

// All of `size` bytes at the descriptor's offset.
bool WriteAll(int fd, const char* data, std::size_t size);

// All of `size` bytes at `offset`; the descriptor's offset is left as it was.
bool WriteAllAt(int fd, const char* data, std::size_t size, off_t offset);

}  // namespace orlenta
