#include "engine/unit_scan.h"

#include "engine/seen_emails.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace orlenta {

namespace {

// Why a read that came up short (`got` bytes, or -1 with errno set) stops the file.
std::string ReadFailure(long got) {
    return got < 0 ? std::strerror(errno) : FileBecameShorter;
}

}  // namespace

UnitScanner::UnitScanner(LoneLf loneLf, bool offsets)
    : loneLf_(loneLf), offsets_(offsets), readBuffer_(new char[ReadSize]) {}

void UnitScanner::scan(Unit& unit) {
    copiedAt_.clear();
    for (Piece& piece : unit.pieces) {
        piece.firstChunk = unit.chunkEnds.size();
        if (!piece.file) {
            const char* bytes = piece.bytes != nullptr ? piece.bytes : unit.buffer.get();
            scanChunks(unit, bytes, piece.size, 0);
        } else {
            std::size_t done = 0;
            while (done < piece.size) {
                const std::size_t want = std::min(ReadSize, piece.size - done);
                const long got =
                    ReadFullyAt(piece.file->fd(), readBuffer_.get(), want, piece.fileOffset + done);
                if (got < 0 || static_cast<std::size_t>(got) < want) {
                    piece.error = ReadFailure(got);
                    piece.file->failedAt(piece.fileOffset);
                    break;
                }
                const std::size_t first = unit.addresses.size();
                scanChunks(unit, readBuffer_.get(), want, done);
                for (std::size_t i = first; i < unit.addresses.size(); ++i) {
                    copiedAt_.push_back(i);
                    unit.copied.append(unit.addresses[i]);
                }
                done += want;
            }
            piece.size = done;
            piece.file->partRead();
        }
        piece.chunkCount = unit.chunkEnds.size() - piece.firstChunk;
        piece.addressEnd = unit.addresses.size();
    }
    // The copies are in place now: the addresses view them, not the reused read buffer.
    std::size_t offset = 0;
    for (std::size_t i : copiedAt_) {
        const std::size_t size = unit.addresses[i].size();
        unit.addresses[i] = std::string_view(unit.copied.data() + offset, size);
        offset += size;
    }
}

void UnitScanner::scanChunks(Unit& unit, const char* bytes, std::size_t size,
                             std::size_t pieceOffset) {
    for (std::size_t at = 0; at < size; at += ChunkSize) {
        const std::size_t first = unit.addresses.size();
        FindAddresses(std::string_view(bytes + at, std::min(ChunkSize, size - at)), unit.addresses,
                      loneLf_);
        unit.chunkEnds.push_back(unit.addresses.size());
        for (std::size_t i = first; i < unit.addresses.size(); ++i) {
            unit.hashes.push_back(HashLowerCased(unit.addresses[i]));
        }
        if (offsets_) {
            // A piece holds at most UnitBytes, so its offsets fit 32 bits.
            for (std::size_t i = first; i < unit.addresses.size(); ++i) {
                unit.offsets.push_back(static_cast<std::uint32_t>(
                    pieceOffset + static_cast<std::size_t>(unit.addresses[i].data() - bytes)));
            }
        }
    }
}

}  // namespace orlenta
