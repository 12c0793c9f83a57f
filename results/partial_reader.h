#pragma once

#include "engine/unique_fd.h"
#include "results/partial_format.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta {

// Reads a partial result (results/partial_format.h) back: open() checks what can be checked
// without reading the records (the magic, the format version, the header, the trailer's place
// and length), next() hands out the records in order, a batch at a time, from large
// sequential reads, and at the end checks the record count and the CRC.
//
//   PartialReader partial;
//   if (!partial.open(path)) { report(partial.error()); }   // "truncated", "format version 2 ..."
//   std::vector<std::string_view> batch;
//   while (partial.next(batch)) { use(batch); }
//   if (partial.failed()) { report(partial.error()); }      // "corrupt: its checksum ..."
class PartialReader final {
public:
    PartialReader();
    ~PartialReader();
    PartialReader(const PartialReader&) = delete;
    PartialReader& operator=(const PartialReader&) = delete;

    // False with error() when `path` cannot be read or is not a whole partial of this format.
    bool open(const std::string& path);

    const PartialHeader& header() const { return header_; }
    const PartialCounts& counts() const { return counts_; }

    // The next addresses, first spellings in order (views valid until the next call). False at
    // the end, and when a record or the checksum is found wrong (failed() then).
    bool next(std::vector<std::string_view>& addresses);

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

private:
    bool fail(std::string reason);
    bool fill();

    UniqueFd fd_;
    PartialHeader header_;
    PartialCounts counts_;
    std::uint32_t expectedCrc_ = 0;
    std::uint32_t crc_ = 0;
    std::string countBytes_;    // the trailer's counts, the last bytes under the CRC
    std::uint64_t unread_ = 0;  // record bytes not read yet
    std::uint64_t recordsSeen_ = 0;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;  // first byte not parsed
    std::size_t end_ = 0;    // one past the last byte read
    bool done_ = false;
    std::string error_;
};

}  // namespace orlenta
