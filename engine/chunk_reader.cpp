#include "engine/chunk_reader.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace orlenta {

namespace {

std::string ErrnoText(int error) {
    return std::strerror(error);
}

// What a read that finds no data yet on a non-blocking descriptor means.
enum class NoDataYet {
    Wait,  // a FIFO opened so, a shared standard input: its writer is still to come
    End,   // a pseudo-file that is a live feed (/proc/kmsg): what it holds now is all
};

// Reads until `size` bytes have arrived or the input ends. The count read, or -1 with errno.
long ReadFully(int fd, char* data, std::size_t size, NoDataYet noData = NoDataYet::Wait) {
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
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && noData == NoDataYet::End) {
            break;
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

// Until a FIFO opened without blocking has had a writer, a read finds its end at once; so the
// first read waits for one, as a blocking open would. poll() reports a hang-up only once a
// writer has come and gone since this descriptor was opened, so one that wrote and left
// before this call is not missed.
void WaitForWriter(int fd) {
    pollfd wait{fd, POLLIN, 0};
    while (::poll(&wait, 1, -1) < 0 && errno == EINTR) {
    }
}

// Whether a regular file belongs to one of the kernel's pseudo file systems, whose files
// are made as they are read: their length says nothing of their content (0 in /proc, 4096 in
// /sys). They have no device of their own (major number 0, as tmpfs and network file systems
// too), so only those files cost the second question.
bool IsPseudoFile(int fd, const struct stat& info) {
    if (major(info.st_dev) != 0) {
        return false;
    }
    struct statfs fileSystem {};
    if (::fstatfs(fd, &fileSystem) != 0) {
        return false;
    }
    constexpr unsigned long ConfigFsMagic = 0x62656570;  // not in <linux/magic.h>
    constexpr unsigned long FuseControlMagic = 0x65735543;
    switch (static_cast<unsigned long>(fileSystem.f_type)) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case SELINUX_MAGIC:
        case SMACK_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
        case RDTGROUP_SUPER_MAGIC:
        case PSTOREFS_MAGIC:
        case EFIVARFS_MAGIC:
        case BPF_FS_MAGIC:
        case BINFMTFS_MAGIC:
        case OPENPROM_SUPER_MAGIC:
        case USBDEVICE_SUPER_MAGIC:
        case XENFS_SUPER_MAGIC:
        case ConfigFsMagic:
        case FuseControlMagic:
            return true;
        default:
            return false;
    }
}

}  // namespace

long ReadFullyAt(int fd, char* data, std::size_t size, std::uint64_t offset) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, data + got, size - got, static_cast<off_t>(offset + got));
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            return -1;
        }
    }
    return static_cast<long>(got);
}

ChunkLayout LayoutOfLength(std::uint64_t length) {
    return {length / ChunkSize, static_cast<std::size_t>(length % ChunkSize)};
}

ChunkReader::ChunkReader(const std::string& path, PathKinds kinds, ByteRange range) : name_(path) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer before it is known to be one; and
    // a terminal named here must not become ours. A regular file on a disk costs open, fstat,
    // its reads and close, nothing more.
    struct stat info {};
    if (!openAndStat(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, info)) {
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        error_ = "is a folder, not a file";
        return;
    }
    if (S_ISFIFO(info.st_mode) && kinds == PathKinds::RegularFilesAndPipes) {
        // Read through this very descriptor, as `cat` reads: opening it again, blocking, could
        // wait forever for a writer that came, wrote and left in between.
        stream_ = true;
        if (range.begin == 0) {
            WaitForWriter(fd_);
            readAhead();
        }
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        error_ = "not a regular file";
        return;
    }
    if (IsPseudoFile(fd_, info)) {
        stream_ = true;
        pseudoFile_ = true;
        if (range.begin == 0) {
            readAhead();
        }
        return;
    }
    // No read-ahead advice: it is a system call more per file, and the kernel's default
    // read-ahead already follows a file read from start to end.
    length_ = static_cast<std::uint64_t>(info.st_size);
    if (!range.whole()) {
        // The range's end, not the length now: bytes missing before it are a file that shrank.
        begin_ = range.begin;
        length_ = range.end > range.begin ? range.end - range.begin : 0;
        if (begin_ > 0 && ::lseek(fd_, static_cast<off_t>(begin_), SEEK_SET) < 0) {
            error_ = ErrnoText(errno);
            return;
        }
    }
    layout_ = LayoutOfLength(length_);
}

bool ChunkReader::openAndStat(const std::string& path, int flags, struct stat& info) {
    owned_.reset(::open(path.c_str(), flags));
    fd_ = owned_.get();
    if (!owned_) {
        openError_ = errno;
        error_ = ErrnoText(errno);
        return false;
    }
    if (::fstat(fd_, &info) != 0) {
        error_ = ErrnoText(errno);
        return false;
    }
    return true;
}

ChunkReader ChunkReader::FromStream(int fd, std::string name) {
    ChunkReader reader;
    reader.name_ = std::move(name);
    reader.fd_ = fd;
    reader.stream_ = true;
    reader.readAhead();
    return reader;
}

ChunkReader ChunkReader::Empty(std::string name) {
    ChunkReader reader;
    reader.name_ = std::move(name);
    reader.stream_ = true;  // with nothing ahead: its end
    return reader;
}

ChunkReader::ChunkReader(ChunkReader&& other) noexcept
    : name_(std::move(other.name_)),
      owned_(std::move(other.owned_)),
      fd_(std::exchange(other.fd_, -1)),
      handedOver_(other.handedOver_),
      stream_(other.stream_),
      pseudoFile_(other.pseudoFile_),
      begin_(other.begin_),
      length_(other.length_),
      layout_(other.layout_),
      chunksRead_(other.chunksRead_),
      fileBuffer_(std::move(other.fileBuffer_)),
      fileBufferSize_(other.fileBufferSize_),
      handedOut_(other.handedOut_),
      filled_(other.filled_),
      buffer_(std::move(other.buffer_)),
      ahead_(std::move(other.ahead_)),
      error_(std::move(other.error_)),
      openError_(other.openError_) {}

ChunkReader::~ChunkReader() = default;

std::optional<OpenRegularFile> ChunkReader::takeFile() {
    if (stream_ || !ok() || chunksRead_ != 0 || !owned_) {
        return std::nullopt;
    }
    fd_ = -1;
    handedOver_ = true;
    return OpenRegularFile{std::move(owned_), length_, begin_};
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
    chunk = std::string_view(fileBuffer_.get() + handedOut_, size);
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
    if (fileBufferSize_ < want) {
        // Once per file, no larger than the file and not zeroed: a small file costs no more
        // than its bytes.
        fileBuffer_.reset(new char[want]);
        fileBufferSize_ = want;
    }
    const long got = ReadFully(fd_, fileBuffer_.get(), want);
    if (got < 0) {
        error_ = ErrnoText(errno);
        return false;
    }
    if (static_cast<std::size_t>(got) < want) {
        // The file shrank while it was read: what is gone cannot be scanned.
        error_ = FileBecameShorter;
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
    const long got =
        ReadFully(fd_, ahead_.data(), ChunkSize, pseudoFile_ ? NoDataYet::End : NoDataYet::Wait);
    if (got < 0) {
        error_ = ErrnoText(errno);
        ahead_.clear();
        return;
    }
    ahead_.resize(static_cast<std::size_t>(got));
}

}  // namespace orlenta
