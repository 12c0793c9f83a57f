#pragma once

#include "engine/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta {

// One temporary file that holds many streams of bytes at once (chains), each written in
// blocks of a fixed size wherever a block is free and read back with pread: one descriptor
// however many streams, so a low limit on descriptors does not matter. The file is made in
// $TMPDIR (/tmp when unset) and unlinked at once (O_TMPFILE where the file system allows it):
// nothing is left behind, whatever ends the process. Every failure, a full disk first of all,
// throws std::runtime_error("temporary file: " + reason).
//
// The blocks are written behind the caller's back by a thread of the file's own (up to
// WritesInFlight of them at once), so the copies into the kernel and its waits for the disk
// do not hold up the caller; a read of a block still being written waits for it, and a write
// that failed is thrown by the next call. Where no thread can start, the caller writes.
//
//   SpillFile file(64 << 10);
//   ChainWriter out(file);           // one block of memory
//   out.appendRecord("ann@example.com", 15); out.appendByte(1); ...
//   Chain chain = out.close();
//   ChainReader in(file, chain, 4096);
//   in.nextRecords(views, 64, spare); in.nextByte(byte);
//   ChainReader last(file, chain, 4096, ChainReader::ReadAgain::No);   // pages go as read
//   file.release(chain.blocks);      // its blocks are reused by later chains
class SpillFile final {
public:
    // Blocks handed to the writing thread and not yet written, at most: buffers of a block
    // each, beside the chains' own.
    static constexpr std::size_t WritesInFlight = 8;

    explicit SpillFile(std::size_t blockSize);
    ~SpillFile();
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;

    std::size_t blockSize() const { return blockSize_; }

    // Writes the first `size` bytes (at most a block) of `buffer`, a buffer of a block, into a
    // free block; returns its offset. The buffer goes to be written, and `buffer` holds
    // another one of a block on return.
    std::uint64_t writeBlock(std::unique_ptr<char[]>& buffer, std::size_t size);

    // Reads `size` bytes at `offset`, all of them, once their block is written.
    void read(std::uint64_t offset, char* bytes, std::size_t size) const;

    // The blocks are free for later chains.
    void release(const std::vector<std::uint64_t>& blocks);

    // The block at `offset`, written and read, will not be read again: the system may drop
    // its pages from memory. Advice only.
    void forget(std::uint64_t offset) const;

private:
    class Writer;

    const std::size_t blockSize_;
    UniqueFd fd_;
    std::uint64_t end_ = 0;            // where the next new block goes
    std::vector<std::uint64_t> free_;  // blocks released, reused first
    std::unique_ptr<Writer> writer_;   // null: no thread could start, the caller writes
};

// A stream written to a SpillFile: its blocks in order, and its length.
struct Chain {
    std::vector<std::uint64_t> blocks;
    std::uint64_t bytes = 0;
};

// Appends to one chain through a buffer of one block.
class ChainWriter final {
public:
    explicit ChainWriter(SpillFile& file);

    void append(const char* bytes, std::size_t size);

    void appendByte(unsigned char byte) {
        buffer_[used_++] = static_cast<char>(byte);
        if (used_ == file_.blockSize()) {
            flush();
        }
    }

    // A record of the spill: an address, its length first.
    void appendRecord(const char* address, std::size_t size);

    // Writes what is left and gives the chain; the buffer is freed.
    Chain close();

private:
    void flush();

    SpillFile& file_;
    Chain chain_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
};

// Reads one chain back through a buffer of `bufferSize` bytes (at most a block). The last
// reader of a chain (ReadAgain::No) lets each block go from memory once it is read.
class ChainReader final {
public:
    enum class ReadAgain { Yes, No };

    ChainReader(const SpillFile& file, const Chain& chain, std::size_t bufferSize,
                ReadAgain readAgain = ReadAgain::Yes);

    // The next records written by appendRecord, at most `most` and at least one, unless the
    // chain is at its end (0). The views point into the reader's buffer, or into `spare` for a
    // record cut by the buffer's end (then alone): they hold until the next call.
    std::size_t nextRecords(std::string_view* addresses, std::size_t most, std::string& spare);

    // The next byte written by appendByte; false at the end of the chain.
    bool nextByte(unsigned char& byte) {
        if (at_ == end_ && !fill()) {
            return false;
        }
        byte = static_cast<unsigned char>(buffer_[at_++]);
        return true;
    }

private:
    bool fill();
    unsigned char byteOfRecord();
    std::uint64_t nextNumber();
    void nextRecordAcross(std::string& address);

    const SpillFile& file_;
    const Chain& chain_;
    std::unique_ptr<char[]> buffer_;
    const std::size_t bufferSize_;
    const ReadAgain readAgain_;
    std::uint64_t offset_ = 0;  // in the chain, of the byte after the buffer's
    std::size_t at_ = 0;        // the buffer's next byte
    std::size_t end_ = 0;       // the buffer's bytes
};

}  // namespace orlenta
