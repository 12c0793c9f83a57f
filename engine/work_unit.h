#pragma once

// What the threads of the parallel run hand one another: work units (parts of the text, in
// order) and batches of sources opened ahead. Ownership passes along with the object, through
// the WorkBoard (engine/work_board.h), whose mutex orders each hand-over:
//
//   OpenBatch:  the worker (or the planner) that took it from the board opens it and fills
//               every field; once it is marked opened, only the planner touches it.
//   Unit:       the planner fills `sequence` and `pieces` (and `buffer` for a stream); then
//               one worker reads and scans it and fills the address fields; then each shard's
//               turn (one worker at a time per shard, the shards in parallel) writes `isNew`
//               at the unit's addresses of that shard, and only there; then the calling thread
//               hands it on, clears it and gives it back to the planner as a spare.

#include "engine/chunk_reader.h"
#include "engine/descriptor_budget.h"
#include "engine/unique_fd.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta {

// A unit holds up to this many bytes: whole reads of the one-thread reader, so a file that
// turns out shorter loses the same chunks in both runs.
inline constexpr std::size_t UnitBytes = 8 * ReadSize;

// A regular file shared by the units that read parts of it, with the run's claim on its
// descriptor. Any worker reads it; the one that reads its last part closes it.
class SharedFile final {
public:
    SharedFile(UniqueFd fd, std::size_t parts, DescriptorBudget::Claim claim)
        : fd_(std::move(fd)), claim_(std::move(claim)), partsLeft_(parts) {}

    // Valid until this thread's partRead().
    int fd() const { return fd_.get(); }

    // True when that was the last part: the file is closed now. Each part's reader calls it
    // once, after its last read: only the last caller closes, when no one reads any more.
    bool partRead() {
        if (partsLeft_.fetch_sub(1) == 1) {
            fd_.reset();
            claim_.release();
            return true;
        }
        return false;
    }

    // The offset of the first part whose read failed; the parts after it are not handed on.
    // Parts of one file are read by several workers at once, hence the atomic.
    void failedAt(std::uint64_t offset) {
        std::uint64_t seen = failedAt_.load();
        while (offset < seen && !failedAt_.compare_exchange_weak(seen, offset)) {
        }
    }

    // Final for `offset` once every part before it has been read.
    bool failedBefore(std::uint64_t offset) const { return failedAt_.load() < offset; }

private:
    UniqueFd fd_;
    DescriptorBudget::Claim claim_;
    std::atomic<std::size_t> partsLeft_;
    std::atomic<std::uint64_t> failedAt_{std::numeric_limits<std::uint64_t>::max()};
};

// Consecutive bytes of one source inside a unit: a part of a file still to be read, a small
// file read when it was opened, bytes of a stream (or of a member of one) already read into
// the unit's buffer, or nothing but the reason a source could not be read. The planner fills the
// first fields; the worker that scans the unit fills the rest.
struct Piece {
    std::shared_ptr<SharedFile> file;  // null when the bytes are in memory already
    std::uint64_t fileOffset = 0;
    std::size_t size = 0;         // bytes of chunks; after a short read, those that arrived whole
    std::string name;             // the source's name, for its message
    std::string error;            // the source could not be read (after this piece's chunks)
    bool endsSource = false;      // the source's last piece
    bool startsSource = false;    // the source's first piece
    bool startsMember = false;    // a member's first piece (a source made of members)
    const char* bytes = nullptr;  // a small file read when opened, a stream: its bytes,
    std::shared_ptr<const void> holder{};  //   kept by this
    // Filled by the planner as it submits the unit: the number of the piece's source (or
    // member), from 1 in the order they start, and where the piece starts in it.
    std::uint64_t sourceNumber = 0;
    std::uint64_t sourceOffset = 0;
    // Filled by the scan:
    std::size_t firstChunk = 0;  // in Unit::chunkEnds
    std::size_t chunkCount = 0;
    std::size_t addressEnd = 0;  // one past its last address in Unit::addresses

    // An earlier part of its file failed to read: nothing of it is handed on, nothing of it
    // enters the set. Final once every earlier unit has been scanned.
    bool dropped() const { return file && file->failedBefore(fileOffset); }
};

struct Unit {
    std::uint64_t sequence = 0;  // its place in the text: units are handed on in this order
    std::vector<Piece> pieces;
    std::unique_ptr<char[]> buffer;  // a stream's bytes (UnitBytes, made when first needed)

    // Filled by the scan.
    std::string copied;                       // the addresses found in parts of files, back to back
    std::vector<std::string_view> addresses;  // every address found, in text order
    std::vector<std::uint64_t> hashes;        // HashLowerCased of each
    std::vector<std::uint32_t> offsets;       // only for a sink that wants occurrences: each
                                              // address's offset in its piece
    std::vector<std::size_t> chunkEnds;       // where each chunk's addresses end
    // The addresses' indexes shard by shard, each shard's in text order: those of shard s are
    // byShard[shardStarts[s]] up to byShard[shardStarts[s + 1]].
    std::vector<std::size_t> byShard;
    std::vector<std::size_t> shardStarts;

    // Per address: first met here (New), met before (Seen), or not in the frozen set (Spill:
    // the spill decides at the end). Written by the shards' turns at once, each at its own
    // addresses: one byte per address, as std::vector<bool> would pack neighbours of
    // different shards into one word that two threads write.
    enum : std::uint8_t { Seen = 0, New = 1, Spill = 2 };
    std::vector<std::uint8_t> isNew;

    // Empties it for another use, keeping its memory.
    void clear() {
        pieces.clear();
        copied.clear();
        addresses.clear();
        hashes.clear();
        offsets.clear();
        chunkEnds.clear();
    }
};

// One source as opened ahead of the planner.
struct OpenedSource {
    enum class State {
        AtItsTurn,  // not opened: a stream, or no descriptor was free; the planner opens it
        Opened,     // `reader` (and `file`, a regular file to read in parts) hold it
        ReadWhole,  // a small regular file, read and closed already
    };
    State state = State::AtItsTurn;
    std::optional<ChunkReader> reader;    // its name and error; Opened: a stream is read from it
    std::optional<OpenRegularFile> file;  // Opened: a regular file, to be read in parts
    DescriptorBudget::Claim claim;        // Opened: the run's claim on its descriptor
    std::size_t offset = 0;               // ReadWhole: its bytes in the batch's
    std::size_t size = 0;                 //
    std::string error;                    // ReadWhole: why the read stopped short (size 0)
};

// Sources opened together ahead of the planner, in order.
struct OpenBatch {
    std::size_t first = 0;
    std::size_t count = 0;
    std::vector<OpenedSource> sources;
    std::string bytes;  // the small files' bytes, back to back
};

}  // namespace orlenta
