#include "chunk_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace orlenta {

namespace {

std::string ErrnoText(int error) {
    return std::strerror(error);
}

// Reads until `size` bytes have arrived or the input ends. The count read, or -1 with errno.
// A descriptor in non-blocking mode (a FIFO opened so, a shared standard input) is waited on
// rather than taken for ended.
long ReadFully(int fd, char* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) {
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd wait{fd, POLLIN, 0};
            ::poll(&wait, 1, -1);
            continue;
        }
        return -1;
    }
    return static_cast<long>(got);
}

}  // namespace

ChunkLayout LayoutOfLength(std::uint64_t length) {
    return {length / ChunkSize, static_cast<std::size_t>(length % ChunkSize)};
}

ChunkReader::ChunkReader(const std::string& path, PathKinds kinds) : name_(path) {
    struct stat named {};
    if (kinds == PathKinds::RegularFilesAndPipes && ::stat(path.c_str(), &named) == 0 &&
        S_ISFIFO(named.st_mode)) {
        openStream(path);
        return;
    }
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below anyway.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = ErrnoText(errno);
        return;
    }
    ownsFd_ = true;
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
    layout_ = LayoutOfLength(static_cast<std::uint64_t>(info.st_size));
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

void ChunkReader::openStream(const std::string& path) {
    // Blocking, as `cat` opens it: a FIFO whose writer has not come yet is waited for rather
    // than read as empty. The path is checked again once open, as it may have been replaced.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = ErrnoText(errno);
        return;
    }
    ownsFd_ = true;
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        error_ = ErrnoText(errno);
        return;
    }
    if (!S_ISFIFO(info.st_mode)) {
        error_ = "not a regular file";
        return;
    }
    stream_ = true;
    readAhead();
}

ChunkReader ChunkReader::FromStream(int fd, std::string name) {
    ChunkReader reader;
    reader.name_ = std::move(name);
    reader.fd_ = fd;
    reader.stream_ = true;
    reader.readAhead();
    return reader;
}

ChunkReader::ChunkReader(ChunkReader&& other) noexcept
    : name_(std::move(other.name_)),
      fd_(std::exchange(other.fd_, -1)),
      ownsFd_(std::exchange(other.ownsFd_, false)),
      stream_(other.stream_),
      layout_(other.layout_),
      chunksRead_(other.chunksRead_),
      buffer_(std::move(other.buffer_)),
      handedOut_(other.handedOut_),
      filled_(other.filled_),
      ahead_(std::move(other.ahead_)),
      error_(std::move(other.error_)) {}

ChunkReader::~ChunkReader() {
    if (ownsFd_) {
        ::close(fd_);
    }
}

bool ChunkReader::nextIsFull() const {
    if (stream_) {
        return ahead_.size() == ChunkSize;
    }
    return chunksRead_ < layout_.fullChunks;
}

bool ChunkReader::next(std::string_view& chunk) {
    if (!ok()) {
        return false;
    }
    return stream_ ? nextFromStream(chunk) : nextFromFile(chunk);
}

bool ChunkReader::next(std::string& chunk) {
    std::string_view view;
    if (!next(view)) {
        return false;
    }
    chunk.assign(view);
    return true;
}

bool ChunkReader::nextFromFile(std::string_view& chunk) {
    std::size_t size = ChunkSize;
    if (chunksRead_ >= layout_.fullChunks) {
        if (chunksRead_ > layout_.fullChunks || layout_.lastChunkSize == 0) {
            return false;
        }
        size = layout_.lastChunkSize;
    }
    if (handedOut_ == filled_ && !refill()) {
        return false;
    }
    chunk = std::string_view(buffer_.data() + handedOut_, size);
    handedOut_ += size;
    ++chunksRead_;
    return true;
}

bool ChunkReader::refill() {
    // Whole chunks only, and the last shorter one once it is due, so chunk borders stay where
    // they are in the file.
    const std::uint64_t fullLeft = layout_.fullChunks - chunksRead_;
    const std::size_t want =
        fullLeft >= ChunksPerRead
            ? ChunksPerRead * ChunkSize
            : static_cast<std::size_t>(fullLeft) * ChunkSize + layout_.lastChunkSize;
    buffer_.resize(ChunksPerRead * ChunkSize);
    const long got = ReadFully(fd_, buffer_.data(), want);
    if (got < 0) {
        error_ = ErrnoText(errno);
        return false;
    }
    if (static_cast<std::size_t>(got) < want) {
        // The file shrank while it was read: what is gone cannot be scanned.
        error_ = "the file became shorter while it was read";
        return false;
    }
    handedOut_ = 0;
    filled_ = want;
    return true;
}

bool ChunkReader::nextFromStream(std::string_view& chunk) {
    if (ahead_.empty()) {
        return false;
    }
    buffer_.swap(ahead_);
    ++chunksRead_;
    readAhead();
    chunk = buffer_;
    return true;
}

void ChunkReader::readAhead() {
    ahead_.resize(ChunkSize);
    const long got = ReadFully(fd_, ahead_.data(), ChunkSize);
    if (got < 0) {
        error_ = ErrnoText(errno);
        ahead_.clear();
        return;
    }
    ahead_.resize(static_cast<std::size_t>(got));
}

}  // namespace orlenta
