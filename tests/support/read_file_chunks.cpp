#include "tests/support/read_file_chunks.h"

#include "engine/chunk_reader.h"

namespace orlenta {

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
