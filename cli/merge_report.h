#pragma once

#include "cli/report_writer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orlenta {

class OutputFile;

// The report of `orlenta-extract --merge --report FILE`: the rows one run over all the input
// writes with --report, made from the report columns of slices run with --report-columns
// (results/partial_format.h). An address's row is that of the earliest slice holding it (its
// first spelling, first source and offset), with the occurrences of every slice summed, and
// its sources summed but for a source cut across slices, counted once: where a slice's first
// source for the address is the last source of the slice before that held it.
//
//   MergedReport report;
//   report.readColumns(paths);          // every partial's records, once, before the merge
//   report.repeats(0, 7, 2, 3);         // as the merge of the indexes meets equal addresses
//   report.write(paths, "report.csv", file);           // file opened from "report.csv"
//
// Memory: 32 bytes per record of every partial, and the names of one partial's first sources
// at a time.
class MergedReport final {
public:
    // Reads the columns of every record of every partial, in slice order. False once a partial
    // is named as failing on standard error, one made without --report-columns too.
    bool readColumns(const std::vector<std::string>& paths);

    // Record `record` of slice `slice` (from 0) holds the address of record `keptRecord` of
    // `keptSlice`, the earliest slice holding it. For one address, called in slice order.
    void repeats(std::size_t keptSlice, std::uint64_t keptRecord, std::size_t slice,
                 std::uint64_t record);

    // Writes the row of each record that repeats no earlier slice, in slice order, to `file`
    // (opened from `path`, "-" for standard output; CSV, or JSON Lines for a name ending in
    // .jsonl); the caller commits it with the output. False once a partial or the file is
    // named as failing (out of memory too), the file then dropped.
    bool write(const std::vector<std::string>& paths, const std::string& path, OutputFile& file);

private:
    bool writeRows(const std::vector<std::string>& paths, ReportFormat format, OutputFile& file,
                   const std::string& fileName);
    // The place of record `record` of slice `slice` in the arrays below; past their end when
    // the slice has fewer records.
    std::size_t placeOf(std::size_t slice, std::uint64_t record) const;

    std::vector<std::size_t> sliceStart_;  // the place of each slice's first record
    // Per record: summed into the kept record's (a repeat's occurrences are then 0), the
    // sources' numbers in the whole input list.
    std::vector<std::uint64_t> occurrences_;
    std::vector<std::uint64_t> sources_;
    std::vector<std::uint64_t> firstSource_;
    std::vector<std::uint64_t> lastSource_;
};

}  // namespace orlenta
