#pragma once

#include "results/output_file.h"
#include "results/partial_format.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta {

// Writes a partial result (results/partial_format.h) to an open OutputFile: the records as the
// addresses come, in blocks of about 1 MB; the index, sorted, at the end. Keeps the checksums
// and the counts of what it wrote. Holds each address lower-cased until finish() (about 40
// bytes an address besides its length).
//
//   PartialWriter partial(header, file);       // file already open
//   partial.add("Ann@example.com");
//   if (!partial.finish(counts) || !file.commit()) { report(file.error()); }
//
// Once a write has failed nothing more is written, and finish() fails.
class PartialWriter final {
public:
    PartialWriter(const PartialHeader& header, OutputFile& output);

    void add(std::string_view address);
    // An address with its column values, as many as the header names (header.columns).
    void add(std::string_view address, const std::uint64_t* columns);

    // Writes the index and the trailer with `counts` (its record and index fields are the
    // writer's own). The file is committed by the caller, with the run's other outputs
    // (OutputFile::CommitTogether).
    bool finish(PartialCounts counts);

private:
    struct Entry {
        std::uint64_t hash;
        std::uint64_t record;
        std::size_t offset;  // of the lower-cased bytes in lowered_
        std::size_t size;
    };
    void write(PartialChecksum& checksum);

    OutputFile& output_;
    std::size_t columns_;
    std::string block_;
    PartialChecksum recordsChecksum_;
    std::uint64_t recordBytes_ = 0;
    std::vector<Entry> entries_;
    std::string lowered_;
    bool failed_ = false;
};

}  // namespace orlenta
