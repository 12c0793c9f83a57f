#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orlenta {

// Files are read and scanned in pieces of this many bytes; nothing carries over between them.
inline constexpr std::size_t ChunkSize = 30000;

// One source file, open for reading while the object lives. Only regular files are read, and
// at most the length they had when opened, so a growing log, a FIFO or a device can never keep
// the reader going. Each chunk holds ChunkSize bytes but the last (1 to ChunkSize bytes).
class ChunkReader final {
public:
    // Opens `path`. On failure ok() is false and error() tells why, in a few words.
    explicit ChunkReader(const std::string& path);
    ~ChunkReader();
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    std::uint64_t length() const { return length_; }

    // True when the next chunk is a full one (ChunkSize bytes), i.e. one that is preceded by
    // a yield; the shorter last chunk is not.
    bool nextIsFull() const { return length_ - offset_ >= ChunkSize; }

    // Reads the next chunk into `chunk` (replacing its content). False at the end of the file
    // or on a read error (then ok() turns false and error() tells why).
    bool next(std::string& chunk);

private:
    int fd_ = -1;
    std::uint64_t length_ = 0;
    std::uint64_t offset_ = 0;
    std::string error_;
};

// A path that could not be read, with the reason ("No such file or directory", ...).
class FileReadError : public std::runtime_error {
public:
    FileReadError(std::string path, const std::string& reason)
        : std::runtime_error(path + ": " + reason), path_(std::move(path)), reason_(reason) {}
    const std::string& path() const { return path_; }
    const std::string& reason() const { return reason_; }

private:
    std::string path_;
    std::string reason_;
};

// The whole file as its list of chunks (empty for an empty file), for callers who want the
// list; the extraction run streams with ChunkReader instead. `beforeFullChunk` runs before
// each full chunk is read. Throws FileReadError when the file cannot be read.
std::vector<std::string> ReadFileChunks(const std::string& path,
                                        const std::function<void()>& beforeFullChunk = {});

}  // namespace orlenta
