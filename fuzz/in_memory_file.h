#pragma once

// Bytes held as an anonymous in-memory file (Linux memfd), so the engine's file reader and
// stream reader can be driven without touching the disk. The file has a path under
// /proc/self/fd that any open() can use, and lives as long as the object.

#include <string>
#include <string_view>

namespace orlenta::fuzz {

class InMemoryFile final {
public:
    explicit InMemoryFile(std::string_view bytes);
    ~InMemoryFile();
    InMemoryFile(const InMemoryFile&) = delete;
    InMemoryFile& operator=(const InMemoryFile&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // A path that opens the file afresh, at its start.
    const std::string& path() const { return path_; }

    // The file's own descriptor, moved back to the start: for readers that take a stream.
    int rewound() const;

private:
    int fd_ = -1;
    std::string path_;
    std::string error_;
};

}  // namespace orlenta::fuzz
