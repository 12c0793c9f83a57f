#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta {

// The partial result of one slice of a run (orlenta-extract --slice K/N --partial FILE), which
// orlenta-extract --merge joins with the others into the output of one run over all the input.
// Binary, little-endian, written in one pass; docs/man/orlenta-extract.1 describes it for other
// programs ("FORMAT OF PARTIAL FILES"):
//
//   magic          16 bytes  "ORLENTA-PARTIAL\n"
//   format version u32       2 (PartialFormatVersion); a reader refuses any other
//   header length  u32       bytes of the header fields that follow
//   header         program version (u16 length + bytes), slice K and N (u32 each), input
//                  fingerprint (32 bytes), options (u32: 1 = --lf, 2 = --all), the per-address
//                  columns (u16 count, then each name: u8 length + bytes), the source names
//                  the columns refer to (u32 count, then each: u32 length + bytes)
//   records        one per distinct address of the slice, in the order of first appearance:
//                  its length (LEB128 varint), its first spelling, then one varint per column
//   index          the same addresses sorted by (hash, lower-cased bytes): the hash (u64,
//                  HashLowerCased), the record's number (varint, from 0), the lower-cased
//                  address (varint length + bytes)
//   trailer        76 bytes: sources whose first byte is in the slice, sources or parts read
//                  to their end, sources named unreadable, folders that could not be walked,
//                  record count, bytes of records, bytes of the index (u64 each); the XXH3-64
//                  checksum of everything from the magic to the records' end, and that of the
//                  index and the seven counts (u64 each); "END\n"
//
// The merge finds the addresses earlier slices hold by merging the slices' indexes, in order
// of hash, reading each file from start to end without a table of all the addresses. Columns
// give each address more; a reader that does not know a column passes over it. A slice made
// with --report-columns writes the ReportColumns (the others none): what --merge --report
// needs to write the report of one run.
inline constexpr std::string_view PartialMagic = "ORLENTA-PARTIAL\n";
inline constexpr std::uint32_t PartialFormatVersion = 2;
inline constexpr std::string_view PartialEndMagic = "END\n";
inline constexpr std::size_t PartialCountsSize = 7 * 8;
inline constexpr std::size_t PartialTrailerSize = PartialCountsSize + 8 + 8 + 4;

// Options of the slices' runs that change what is found.
enum PartialOption : std::uint32_t {
    PartialOptionLoneLf = 1,    // --lf
    PartialOptionAllFiles = 2,  // --all
    PartialOptionUnpack = 4,    // --unpack
    PartialOptionMail = 8,      // --mail
};

// The columns of --report-columns, in this order, for a record of slice K:
//   occurrences        its occurrences in any case in the slice
//   sources            the number of the slice's sources it occurs in
//   first_source       the number of its first source in the run's whole expanded input list,
//                      from 0 (the members of a packed file share their file's number)
//   first_source_name  its first source's name, as a place in PartialHeader::sourceNames
//   offset             the byte offset of its first occurrence, from the start of that source
//                      (of the file, when the slice begins inside it)
//   last_source        the number of the last source it occurs in, as first_source
// A source cut across slices has the same number in each: the merge counts it once.
inline constexpr std::array<std::string_view, 6> ReportColumns = {
    "occurrences", "sources", "first_source", "first_source_name", "offset", "last_source"};

struct PartialHeader {
    std::string programVersion;
    std::uint32_t sliceIndex = 1;  // K, from 1
    std::uint32_t sliceCount = 1;  // N
    std::array<unsigned char, 32> inputFingerprint{};
    std::uint32_t options = 0;  // PartialOption bits
    std::vector<std::string> columns;
    std::vector<std::string> sourceNames;  // the first sources the columns name
};

struct PartialCounts {
    std::uint64_t sources = 0;            // sources whose first byte (or place) is in the slice
    std::uint64_t sourcesRead = 0;        // sources or parts of them read to their end
    std::uint64_t skipped = 0;            // sources the slice named as unreadable
    std::uint64_t foldersUnreadable = 0;  // folders of the list that could not be walked
    std::uint64_t records = 0;            // distinct addresses
    std::uint64_t recordBytes = 0;
    std::uint64_t indexBytes = 0;
};

// An entry of the index: record `record` of the slice is `lowered` (the address lower-cased).
struct PartialIndexEntry {
    std::uint64_t hash = 0;
    std::uint64_t record = 0;
    std::string_view lowered;
};

// The order of the index: by hash, then by bytes. Equal entries are one address.
inline bool IndexBefore(std::uint64_t hash, std::string_view lowered, std::uint64_t otherHash,
                        std::string_view otherLowered) {
    return hash != otherHash ? hash < otherHash : lowered < otherLowered;
}

// The checksum of a partial's parts (XXH3, 64 bits), fed as the bytes come.
class PartialChecksum final {
public:
    PartialChecksum();
    ~PartialChecksum();
    PartialChecksum(const PartialChecksum&) = delete;
    PartialChecksum& operator=(const PartialChecksum&) = delete;

    void add(const char* data, std::size_t size);
    void add(std::string_view bytes) { add(bytes.data(), bytes.size()); }
    std::uint64_t value() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Magic, version, header length and header.
std::string EncodePartialHeader(const PartialHeader& header);

// The header's fields from `bytes` (the header length's worth after the first 24 bytes).
// False when they do not hold together.
bool DecodePartialHeaderFields(std::string_view bytes, PartialHeader& header);

// The trailer's counts (PartialCountsSize bytes); the checksums and the end magic follow.
std::string EncodePartialCounts(const PartialCounts& counts);
PartialCounts DecodePartialCounts(const char* bytes);

void AppendVarint(std::string& out, std::uint64_t value);
// Reads a varint at `at` below `end`; false when it does not end there (or is too long).
// Inline, as ReadU64: a merge reads three of them per address.
inline bool ReadVarint(const char*& at, const char* end, std::uint64_t& value) {
    if (at < end && static_cast<unsigned char>(*at) < 0x80) {  // most lengths: one byte
        value = static_cast<unsigned char>(*at++);
        return true;
    }
    if (end - at >= 2 && static_cast<unsigned char>(at[1]) < 0x80) {  // record numbers
        value = (static_cast<unsigned char>(at[0]) & 0x7Fu) |
                static_cast<std::uint64_t>(static_cast<unsigned char>(at[1])) << 7;
        at += 2;
        return true;
    }
    value = 0;
    for (int shift = 0; at < end && shift < 64; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

void AppendU32(std::string& out, std::uint32_t value);
void AppendU64(std::string& out, std::uint64_t value);
inline std::uint32_t ReadU32(const char* bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    }
    return value;
}
inline std::uint64_t ReadU64(const char* bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    }
    return value;
}

}  // namespace orlenta
