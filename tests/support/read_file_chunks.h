#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orlenta {

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

// The whole file as its list of chunks (empty for an empty file), read through the engine's
// ChunkReader: the list form the tests compare with. `beforeFullChunk` runs before each full
// chunk is read. Throws FileReadError when the file cannot be read.
std::vector<std::string> ReadFileChunks(const std::string& path,
                                        const std::function<void()>& beforeFullChunk = {});

}  // namespace orlenta
