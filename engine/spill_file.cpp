#include "engine/spill_file.h"

#include "engine/chunk_reader.h"
#include "engine/mutex.h"
#include "engine/parallel_run.h"
#include "engine/temporary_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace orlenta {

namespace {

[[noreturn]] void Fail(int error) {
    throw std::runtime_error(std::string("temporary file: ") + std::strerror(error));
}

// When the file cannot even be made, $TMPDIR may be wrong: the message points there (without
// the folder's name, whose bytes would need escaping on a terminal).
[[noreturn]] void FailToMake(int error) {
    throw std::runtime_error(std::string("temporary file in $TMPDIR (or /tmp): ") +
                             std::strerror(error));
}

std::string TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

// A file without a name where the file system allows it; otherwise a name removed at once.
UniqueFd OpenUnlinked() {
    const std::string folder = TemporaryFolder();
#ifdef O_TMPFILE
    UniqueFd fd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600));
    if (fd) {
        return fd;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        FailToMake(errno);
    }
#endif
    // No signal may end the process between the file's making and its unlinking.
    const TerminatingSignalsBlocked blocked;
    std::string name = folder + "/orlenta-spill.XXXXXX";
    UniqueFd named(::mkostemp(name.data(), O_CLOEXEC));
    if (!named) {
        FailToMake(errno);
    }
    ::unlink(name.c_str());
    return named;
}

// Writes all `size` bytes at `offset`: 0, or the error that stopped it.
int WriteFullyAt(int fd, const char* bytes, std::size_t size, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t wrote =
            ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (wrote == 0) {
            return ENOSPC;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return 0;
}

}  // namespace

// Writes the blocks handed to it, in the order handed. After a failure it writes nothing
// more: the failure is thrown to the caller by its next call.
class SpillFile::Writer final {
public:
    explicit Writer(int fd) : fd_(fd), written_(MakeRoom()), thread_([this] { run(); }) {}

    ~Writer() {
        {
            MutexLock lock(mutex_);
            stopping_ = true;  // what is still queued would never be read
        }
        changed_.notify_all();
        thread_.join();
    }

    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Queues the first `size` bytes of `buffer` for `offset`; `buffer` gets a written one.
    void hand(std::unique_ptr<char[]>& buffer, std::size_t size, std::uint64_t offset,
              std::size_t blockSize) {
        std::unique_ptr<char[]> next;
        {
            MutexLock lock(mutex_);
            while (error_ == 0 && jobs_.size() >= WritesInFlight) {
                lock.wait(changed_);
            }
            if (error_ != 0) {
                Fail(error_);
            }
            jobs_.push_back(Job{std::move(buffer), size, offset});
            if (!written_.empty()) {
                next = std::move(written_.back());
                written_.pop_back();
            }
        }
        changed_.notify_all();
        // At most WritesInFlight buffers are ever queued or written beside the chains'.
        buffer = next ? std::move(next) : std::unique_ptr<char[]>(new char[blockSize]);
    }

    // Returns once the block at `block` is not waiting to be written; throws a failed write.
    void waitFor(std::uint64_t block) {
        MutexLock lock(mutex_);
        while (error_ == 0 && queued(block)) {
            lock.wait(changed_);
        }
        if (error_ != 0) {
            Fail(error_);
        }
    }

private:
    struct Job {
        std::unique_ptr<char[]> buffer;
        std::size_t size;
        std::uint64_t offset;
    };

    // Room for every buffer that can come back, made before the thread starts: the thread
    // allocates nothing, so it cannot fail to.
    static std::vector<std::unique_ptr<char[]>> MakeRoom() {
        std::vector<std::unique_ptr<char[]>> room;
        room.reserve(WritesInFlight);
        return room;
    }

    bool queued(std::uint64_t block) const REQUIRES(mutex_) {
        for (const Job& job : jobs_) {
            if (job.offset == block) {
                return true;
            }
        }
        return false;
    }

    void run() {
        for (;;) {
            const char* bytes = nullptr;
            std::size_t size = 0;
            std::uint64_t offset = 0;
            bool failed = false;
            {
                MutexLock lock(mutex_);
                while (!stopping_ && jobs_.empty()) {
                    lock.wait(changed_);
                }
                if (stopping_) {
                    return;
                }
                // The front job stays queued while it is written: a read of its block waits.
                bytes = jobs_.front().buffer.get();
                size = jobs_.front().size;
                offset = jobs_.front().offset;
                failed = error_ != 0;
            }
            const int error = failed ? 0 : WriteFullyAt(fd_, bytes, size, offset);
            {
                MutexLock lock(mutex_);
                if (error != 0 && error_ == 0) {
                    error_ = error;
                }
                written_.push_back(std::move(jobs_.front().buffer));
                jobs_.pop_front();
            }
            changed_.notify_all();
        }
    }

    const int fd_;
    Mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_ GUARDED_BY(mutex_);                          // the front one first
    std::vector<std::unique_ptr<char[]>> written_ GUARDED_BY(mutex_);  // free for the next
    int error_ GUARDED_BY(mutex_) = 0;
    bool stopping_ GUARDED_BY(mutex_) = false;
    std::thread thread_;  // last: it starts once the rest is made
};

SpillFile::SpillFile(std::size_t blockSize) : blockSize_(blockSize), fd_(OpenUnlinked()) {
    try {
        CountThreadStart();
        writer_ = std::make_unique<Writer>(fd_.get());
    } catch (const std::system_error&) {
        // No thread: the caller writes its blocks itself.
    } catch (const std::bad_alloc&) {
    }
}

SpillFile::~SpillFile() = default;

std::uint64_t SpillFile::writeBlock(std::unique_ptr<char[]>& buffer, std::size_t size) {
    std::uint64_t offset = end_;
    if (!free_.empty()) {
        offset = free_.back();
    }
    if (writer_) {
        writer_->hand(buffer, size, offset, blockSize_);
    } else if (const int error = WriteFullyAt(fd_.get(), buffer.get(), size, offset)) {
        Fail(error);
    }
    if (!free_.empty()) {
        free_.pop_back();
    } else {
        end_ += blockSize_;
    }
    return offset;
}

void SpillFile::read(std::uint64_t offset, char* bytes, std::size_t size) const {
    if (writer_) {
        writer_->waitFor(offset - offset % blockSize_);
    }
    const long got = ReadFullyAt(fd_.get(), bytes, size, offset);
    if (got < 0) {
        Fail(errno);
    }
    if (static_cast<std::size_t>(got) != size) {
        throw std::runtime_error("temporary file: shorter than written");
    }
}

void SpillFile::release(const std::vector<std::uint64_t>& blocks) {
    free_.insert(free_.end(), blocks.begin(), blocks.end());
}

void SpillFile::forget(std::uint64_t offset) const {
    // Pages still waiting for the disk stay; the rest go back to the system at once.
    ::posix_fadvise(fd_.get(), static_cast<off_t>(offset), static_cast<off_t>(blockSize_),
                    POSIX_FADV_DONTNEED);
}

ChainWriter::ChainWriter(SpillFile& file) : file_(file), buffer_(new char[file.blockSize()]) {}

void ChainWriter::flush() {
    if (used_ > 0) {
        chain_.blocks.push_back(file_.writeBlock(buffer_, used_));
        chain_.bytes += used_;
        used_ = 0;
    }
}

void ChainWriter::append(const char* bytes, std::size_t size) {
    const std::size_t block = file_.blockSize();
    while (size > 0) {
        const std::size_t part = std::min(size, block - used_);
        std::memcpy(buffer_.get() + used_, bytes, part);
        used_ += part;
        bytes += part;
        size -= part;
        if (used_ == block) {
            flush();
        }
    }
}

void ChainWriter::appendRecord(const char* address, std::size_t size) {
    char head[10];
    std::size_t length = 0;
    // A base-128 number, low digits first, the high bit saying another digit follows.
    for (std::uint64_t value = size; value >= 0x80; value >>= 7) {
        head[length++] = static_cast<char>((value & 0x7F) | 0x80);
    }
    head[length] = static_cast<char>(size >> (7 * length));
    ++length;
    if (used_ + length + size <= file_.blockSize()) {  // the usual case, without a loop
        std::memcpy(buffer_.get() + used_, head, length);
        std::memcpy(buffer_.get() + used_ + length, address, size);
        used_ += length + size;
        if (used_ == file_.blockSize()) {
            flush();
        }
        return;
    }
    append(head, length);
    append(address, size);
}

Chain ChainWriter::close() {
    flush();
    buffer_.reset();
    return std::move(chain_);
}

ChainReader::ChainReader(const SpillFile& file, const Chain& chain, std::size_t bufferSize,
                         ReadAgain readAgain)
    : file_(file),
      chain_(chain),
      buffer_(new char[std::min(bufferSize, file.blockSize())]),
      bufferSize_(std::min(bufferSize, file.blockSize())),
      readAgain_(readAgain) {}

bool ChainReader::fill() {
    if (offset_ >= chain_.bytes) {
        return false;
    }
    // Every block is full but the last, so a chain offset finds its block by division.
    const std::size_t block = file_.blockSize();
    const std::uint64_t inBlock = offset_ % block;
    const std::size_t size = static_cast<std::size_t>(
        std::min<std::uint64_t>({bufferSize_, block - inBlock, chain_.bytes - offset_}));
    const std::uint64_t at = chain_.blocks[offset_ / block];
    file_.read(at + inBlock, buffer_.get(), size);
    offset_ += size;
    if (readAgain_ == ReadAgain::No && (offset_ % block == 0 || offset_ == chain_.bytes)) {
        file_.forget(at);
    }
    at_ = 0;
    end_ = size;
    return true;
}

unsigned char ChainReader::byteOfRecord() {
    unsigned char byte = 0;
    if (!nextByte(byte)) {
        throw std::runtime_error("temporary file: a record cut short");
    }
    return byte;
}

std::uint64_t ChainReader::nextNumber() {
    std::uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
        const unsigned char digit = byteOfRecord();
        if (shift > 63) {
            throw std::runtime_error("temporary file: a record damaged");
        }
        value |= std::uint64_t{digit & 0x7Fu} << shift;
        if ((digit & 0x80) == 0) {
            return value;
        }
    }
}

void ChainReader::nextRecordAcross(std::string& address) {
    std::size_t size = static_cast<std::size_t>(nextNumber());
    address.resize(size);
    char* to = address.data();
    while (size > 0) {
        if (at_ == end_ && !fill()) {
            throw std::runtime_error("temporary file: a record cut short");
        }
        const std::size_t part = std::min(size, end_ - at_);
        std::memcpy(to, buffer_.get() + at_, part);
        at_ += part;
        to += part;
        size -= part;
    }
}

std::size_t ChainReader::nextRecords(std::string_view* addresses, std::size_t most,
                                     std::string& spare) {
    std::size_t count = 0;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(buffer_.get());
    while (count < most) {
        if (at_ == end_) {
            if (count > 0 || !fill()) {
                return count;
            }
        }
        // Records wholly in the buffer are not copied: the views point at them.
        std::size_t at = at_;
        std::uint64_t size = 0;
        bool whole = false;
        for (unsigned shift = 0; at < end_ && shift < 64; shift += 7) {
            const unsigned char digit = bytes[at++];
            size |= std::uint64_t{digit & 0x7Fu} << shift;
            if ((digit & 0x80) == 0) {
                whole = size <= end_ - at;
                break;
            }
        }
        if (!whole) {
            if (count > 0) {
                return count;  // the views so far stay good until the next call
            }
            nextRecordAcross(spare);
            addresses[0] = spare;
            return 1;
        }
        addresses[count++] = std::string_view(buffer_.get() + at, static_cast<std::size_t>(size));
        at_ = at + static_cast<std::size_t>(size);
    }
    return count;
}

}  // namespace orlenta
