#pragma once

#include "cli/address_report.h"
#include "results/partial_format.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orlenta {

class PartialWriter;

// The slice's side of `--merge --report`: a slice made with --report-columns writes its report
// into its partial file, each row as the record of its address with the ReportColumns
// (results/partial_format.h), in the order of the output. The report numbers sources from 1 as
// they start, within the slice; the columns number them by their input's place in the whole
// list, so that a source cut across slices has one number, and give offsets from the start of
// the file where the slice begins inside it.
//
//   SliceSources sources{inputOfSource, plan.firstInput, plan.inputs[0].range.begin};
//   AddReportColumns(report, header);   // before the writer writes the header
//   PartialWriter partial(header, file);
//   AddReportRecords(report, sources, partial);
struct SliceSources {
    // For each source the report numbers (source n at n - 1), the place of its input in the
    // slice's list: a packed file's members share it.
    std::vector<std::size_t> inputOfSource;
    std::size_t firstInput = 0;         // the place of the slice's first input in the whole list
    std::uint64_t firstInputBegin = 0;  // where the slice begins inside it (0 unless it is cut)
};

// Names the columns and the first sources in `header`.
void AddReportColumns(const AddressReport& report, PartialHeader& header);

// Writes every row of `report` as a record.
void AddReportRecords(const AddressReport& report, const SliceSources& sources,
                      PartialWriter& partial);

}  // namespace orlenta
