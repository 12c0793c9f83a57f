#include "cli/report_columns.h"

#include "results/partial_writer.h"

#include <array>

namespace orlenta {

void AddReportColumns(const AddressReport& report, PartialHeader& header) {
    header.columns.assign(ReportColumns.begin(), ReportColumns.end());
    // First sources are named as their first rows come, so the last row has the last name.
    const std::size_t names =
        report.size() == 0 ? 0 : report.row(report.size() - 1).firstSource + 1;
    header.sourceNames.clear();
    header.sourceNames.reserve(names);
    for (std::size_t i = 0; i < names; ++i) {
        header.sourceNames.push_back(report.sourceName(i));
    }
}

void AddReportRecords(const AddressReport& report, const SliceSources& sources,
                      PartialWriter& partial) {
    // The slice's place of the source the report numbers `number`.
    const auto inputOf = [&sources](std::uint64_t number) -> std::size_t {
        return number >= 1 && number <= sources.inputOfSource.size()
                   ? sources.inputOfSource[static_cast<std::size_t>(number - 1)]
                   : 0;
    };
    for (std::size_t i = 0; i < report.size(); ++i) {
        const AddressReport::Row row = report.row(i);
        const std::size_t first = inputOf(report.sourceNumber(row.firstSource));
        const std::array<std::uint64_t, ReportColumns.size()> columns = {
            row.occurrences,
            row.sources,
            sources.firstInput + first,
            row.firstSource,
            row.offset + (first == 0 ? sources.firstInputBegin : 0),
            sources.firstInput + inputOf(row.lastSource)};
        partial.add(row.address, columns.data());
    }
}

}  // namespace orlenta
