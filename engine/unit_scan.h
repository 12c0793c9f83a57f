#pragma once

#include "engine/chunk_scanner.h"
#include "engine/work_unit.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace orlenta {

// What one worker of the parallel run does to a unit it took to scan: reads each part of a
// file a read of the one-thread reader at a time into the worker's own buffer and scans it
// there while it is in the cache, keeping only the addresses found (copied into the unit);
// bytes of a stream or a small file are in memory already. Fills the unit's address fields and
// each piece's chunk and address counts; a read that comes up short gives no chunk and marks
// its file failed from there, as the one-thread reader stops there. `offsets` also fills
// Unit::offsets, for a sink that wants every occurrence.
class UnitScanner final {
public:
    UnitScanner(LoneLf loneLf, bool offsets);

    void scan(Unit& unit);

private:
    // `bytes` stand at `pieceOffset` in their piece.
    void scanChunks(Unit& unit, const char* bytes, std::size_t size, std::size_t pieceOffset);

    const LoneLf loneLf_;
    const bool offsets_;
    std::unique_ptr<char[]> readBuffer_;
    std::vector<std::size_t> copiedAt_;  // the addresses whose bytes go to Unit::copied
};

}  // namespace orlenta
