#pragma once

#include "engine/unique_fd.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct stat;

namespace orlenta {

// Files are read and scanned in pieces of this many bytes; nothing carries over between them.
inline constexpr std::size_t ChunkSize = 30000;

// Files are read this many chunks at a time: fewer system calls, the same chunks. A file that
// turns out shorter than its length at open loses the whole read that came up short.
inline constexpr std::size_t ChunksPerRead = 4;

// The unit of every read of a file: a file (or a part of one) is read this many bytes at a time
// from its start, so a read that comes up short always loses the same chunks.
inline constexpr std::size_t ReadSize = ChunksPerRead * ChunkSize;

// Why a file stops being read when it turns out shorter than its length at open.
inline constexpr char FileBecameShorter[] = "the file became shorter while it was read";

// How a file of `length` bytes is cut: `fullChunks` chunks of ChunkSize bytes, then, when
// `lastChunkSize` is not 0, one shorter chunk of that many bytes. Lengths are 64-bit, so a
// file of 2 GiB or more is read whole. Example: 100000 gives 3 full chunks and one of 10000.
struct ChunkLayout {
    std::uint64_t fullChunks = 0;
    std::size_t lastChunkSize = 0;
};
ChunkLayout LayoutOfLength(std::uint64_t length);

// The bytes of a regular file a reader reads: all of them (the length at open), or those from
// `begin` up to `end` (a slice of the input, orlenta-extract --slice). `begin` is a multiple of
// ReadSize, so the chunks and reads are those of the whole file's; `end` is one too, or the
// file's length when the input list was made: a file that is shorter by then fails as a file
// that shrank while it was read. Example: {240000, 480000} is the third and fourth reads.
struct ByteRange {
    std::uint64_t begin = 0;
    std::uint64_t end = UINT64_MAX;
    bool whole() const { return begin == 0 && end == UINT64_MAX; }
    bool operator==(const ByteRange& other) const {
        return begin == other.begin && end == other.end;
    }
};

// A regular file open for reading: its `length` bytes from `begin` are to be read (the whole
// file, as long as it was when opened, or a range of it).
struct OpenRegularFile {
    UniqueFd fd;
    std::uint64_t length = 0;
    std::uint64_t begin = 0;
};

// Which paths a reader takes. The window reads regular files only. The command line also takes
// a pipe or FIFO named as a path ("<(zcat logs.gz)", "/dev/stdin" on a pipe) and reads it as a
// stream, waiting for its writer as `cat` does. Devices and sockets are refused either way.
enum class PathKinds { RegularFiles, RegularFilesAndPipes };

// One source, open for reading while the object lives, read chunk by chunk. A regular file is
// read only up to the length it had when opened, so a growing log can never keep the reader
// going; with PathKinds::RegularFiles a FIFO or a device is refused (a FIFO is not even waited
// for). A stream (standard input, an accepted pipe) is read to its end in the same chunks:
// every read waits until a whole chunk or the end has arrived, so pipe boundaries never change
// the chunks. A file of the kernel's pseudo file systems (/proc, /sys, debugfs, cgroup ...),
// whose length is not its content's, is read as a stream too, up to what it holds now: a live
// feed such as /proc/kmsg is never waited on.
class ChunkReader final {
public:
    // Opens `path`. On failure ok() is false and error() tells why, in a few words. A regular
    // file is read within `range`; a stream is read whole when the range begins at 0, and gives
    // nothing otherwise (only a range's first part reads a stream).
    explicit ChunkReader(const std::string& path, PathKinds kinds = PathKinds::RegularFiles,
                         ByteRange range = {});

    // A source that gives nothing and reads fine: a later part of a file whose failure to open
    // its first part reports.
    static ChunkReader Empty(std::string name);

    // Reads the open descriptor `fd` to its end; it is not closed. `name` stands for it in
    // messages, e.g. "(standard input)".
    static ChunkReader FromStream(int fd, std::string name);

    ~ChunkReader();
    ChunkReader(ChunkReader&& other) noexcept;
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;
    ChunkReader& operator=(ChunkReader&&) = delete;

    const std::string& name() const { return name_; }
    bool ok() const { return error_.empty() && !handedOver_; }
    const std::string& error() const { return error_; }

    // The path could not be opened for want of descriptors (the process's or the system's): a
    // caller that holds some may close them and try again.
    bool outOfDescriptors() const { return openError_ == EMFILE || openError_ == ENFILE; }

    // True when the next chunk is a full one (ChunkSize bytes), i.e. one that is preceded by
    // a yield; the shorter last chunk is not.
    bool nextIsFull() const;

    // Reads the next chunk; `chunk` then views the reader's own buffer and stays valid until
    // the next call. False at the end or on a read error (then ok() turns false and error()
    // tells why).
    bool next(std::string_view& chunk);

    // The same, copied into `chunk`.
    bool next(std::string& chunk);

    // For a regular file not read yet: hands over its descriptor and length, so that several
    // threads can read parts of it; the reader then only gives its name (ok() turns false, with
    // no error). Nothing for a stream (a pseudo-file is one) or a source that could not be
    // opened.
    std::optional<OpenRegularFile> takeFile();

private:
    ChunkReader() = default;
    bool nextFromFile(std::string_view& chunk);
    bool nextFromStream(std::string_view& chunk);
    // Opens `path` as this reader's descriptor and reads its status; false with error_ set.
    bool openAndStat(const std::string& path, int flags, struct stat& info);
    bool refill();
    void readAhead();

    std::string name_;
    UniqueFd owned_;  // the descriptor opened here; FromStream's is the caller's
    int fd_ = -1;     // the descriptor read
    bool handedOver_ = false;
    bool stream_ = false;
    bool pseudoFile_ = false;   // a stream that ends where no data is there yet
    std::uint64_t begin_ = 0;   // files: where the reads start
    std::uint64_t length_ = 0;  // files: the bytes to read from begin_ (the length at open)
    ChunkLayout layout_;        // files: how that length is cut
    std::uint64_t chunksRead_ = 0;
    std::unique_ptr<char[]> fileBuffer_;  // files: chunks read, not all handed out
    std::size_t fileBufferSize_ = 0;
    std::size_t handedOut_ = 0;  // files: bytes of fileBuffer_ handed out
    std::size_t filled_ = 0;     // files: bytes of fileBuffer_ read
    std::string buffer_;         // streams: the current chunk
    std::string ahead_;          // streams: the next chunk, read ahead so its size is known
    std::string error_;
    int openError_ = 0;  // errno of a failed open
};

// Reads `size` bytes at `offset` (pread), retrying after interruptions and short reads. The
// count read (less at the end of the file), or -1 with errno set.
long ReadFullyAt(int fd, char* data, std::size_t size, std::uint64_t offset);

}  // namespace orlenta
