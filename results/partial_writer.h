#pragma once

#include "results/output_file.h"
#include "results/partial_format.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace orlenta {

// Writes a partial result (results/partial_format.h) to an open OutputFile as the addresses
// come, in blocks of about 1 MB, keeping the CRC and the counts of what it wrote.
//
//   PartialWriter partial(header, file);       // file already open
//   partial.add("Ann@example.com");
//   if (!partial.finish(counts)) { report(file.error()); }
//
// Once a write has failed nothing more is written, and finish() fails without committing.
class PartialWriter final {
public:
    PartialWriter(const PartialHeader& header, OutputFile& output);

    void add(std::string_view address);

    // Writes the trailer with `counts` (its record fields are the writer's own) and commits.
    bool finish(PartialCounts counts);

private:
    void write();

    OutputFile& output_;
    std::string block_;
    std::uint32_t crc_ = 0;
    std::uint64_t records_ = 0;
    std::uint64_t recordBytes_ = 0;
    bool failed_ = false;
};

}  // namespace orlenta
