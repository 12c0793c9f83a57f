#include "results/pending_bytes.h"

#include "engine/chunk_reader.h"
#include "results/file_writes.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace orlenta {

namespace {

constexpr std::size_t MemoryLimit = std::size_t(16) << 20;
constexpr std::size_t CopyBlock = std::size_t(1) << 20;

std::string TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
}

// A file without a name: O_TMPFILE where the file system has it, else a name removed at once.
int UnnamedFile() {
    const std::string folder = TemporaryFolder();
    const int fd = OpenRetrying(folder, O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return fd;
    }
    std::string name = folder + "/orlenta-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0) {
        ::unlink(name.c_str());
    }
    return named;
}

}  // namespace

bool PendingBytes::append(std::string_view bytes) {
    if (!spilled_ && memory_.size() + bytes.size() > MemoryLimit && !spill()) {
        error_ = TemporaryFolder() + " (holding the output): " + std::strerror(errno);
        return false;
    }
    if (spilled_) {
        if (!WriteAll(spilled_.get(), bytes.data(), bytes.size())) {
            error_ = TemporaryFolder() + " (holding the output): " + std::strerror(errno);
            return false;
        }
    } else {
        memory_.append(bytes);
    }
    size_ += bytes.size();
    return true;
}

bool PendingBytes::spill() {
    UniqueFd file(UnnamedFile());
    if (!file || !WriteAll(file.get(), memory_.data(), memory_.size())) {
        return false;
    }
    spilled_ = std::move(file);
    std::string().swap(memory_);
    return true;
}

bool PendingBytes::copyTo(int fd, off_t offset) const {
    if (!spilled_) {
        return WriteAllAt(fd, memory_.data(), memory_.size(), offset);
    }
    std::vector<char> block(CopyBlock);
    for (std::uint64_t done = 0; done < size_;) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size_ - done));
        const long got = ReadFullyAt(spilled_.get(), block.data(), want, done);
        if (got < 0) {
            return false;
        }
        if (static_cast<std::size_t>(got) < want) {
            errno = EIO;  // the holding file lost bytes: never write a shorter file
            return false;
        }
        if (!WriteAllAt(fd, block.data(), want, offset + off_t(done))) {
            return false;
        }
        done += want;
    }
    return true;
}

void PendingBytes::clear() {
    std::string().swap(memory_);
    spilled_.reset();
    size_ = 0;
    error_.clear();
}

}  // namespace orlenta
