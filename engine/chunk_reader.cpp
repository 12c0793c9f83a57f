#include "chunk_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#define O_NONBLOCK 0
#define O_CLOEXEC 0
#endif

namespace orlenta {

namespace {

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace

ChunkReader::ChunkReader(const std::string& path) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below anyway.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = ErrnoText(errno);
        return;
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        error_ = ErrnoText(errno);
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        error_ = "is a folder, not a file";
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        error_ = "not a regular file";
        return;
    }
    length_ = static_cast<std::uint64_t>(info.st_size);
}

ChunkReader::~ChunkReader() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool ChunkReader::next(std::string& chunk) {
    if (!ok() || offset_ >= length_) {
        return false;
    }
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(ChunkSize, length_ - offset_));
    chunk.resize(want);
    std::size_t got = 0;
    while (got < want) {
        const auto n = ::read(fd_, chunk.data() + got, want - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error_ = ErrnoText(errno);
            return false;
        }
        if (n == 0) {
            // The file shrank while it was read: what is gone cannot be scanned.
            error_ = "the file became shorter while it was read";
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    offset_ += want;
    return true;
}

std::vector<std::string> ReadFileChunks(const std::string& path,
                                        const std::function<void()>& beforeFullChunk) {
    ChunkReader reader(path);
    std::vector<std::string> chunks;
    std::string chunk;
    while (reader.ok()) {
        if (reader.nextIsFull() && beforeFullChunk) {
            beforeFullChunk();
        }
        if (!reader.next(chunk)) {
            break;
        }
        chunks.push_back(chunk);
    }
    if (!reader.ok()) {
        throw FileReadError(path, reader.error());
    }
    return chunks;
}

}  // namespace orlenta
