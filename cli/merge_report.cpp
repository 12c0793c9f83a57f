#include "cli/merge_report.h"

#include "cli/address_report.h"
#include "cli/escaped_name.h"
#include "cli/extract_command.h"
#include "results/output_file.h"
#include "results/partial_reader.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace orlenta {

namespace {

enum Column : std::size_t {
    Occurrences,
    Sources,
    FirstSource,
    FirstSourceName,
    Offset,
    LastSource
};

void Complain(const std::string& name, const std::string& reason) {
    std::fprintf(stderr, "orlenta-extract: %s: %s\n", EscapedName(name).c_str(), reason.c_str());
}

// Where each of the ReportColumns stands among a partial's columns; false when one is missing.
bool FindColumns(const PartialHeader& header, std::array<std::size_t, ReportColumns.size()>& at) {
    for (std::size_t c = 0; c < ReportColumns.size(); ++c) {
        const auto found =
            std::find(header.columns.begin(), header.columns.end(), ReportColumns[c]);
        if (found == header.columns.end()) {
            return false;
        }
        at[c] = static_cast<std::size_t>(found - header.columns.begin());
    }
    return true;
}

// Opens `path` at its records, with the places of the report columns; false once named.
bool StartRecords(const std::string& path, PartialReader& partial,
                  std::array<std::size_t, ReportColumns.size()>& at) {
    if (!partial.open(path)) {
        Complain(path, partial.error());
        return false;
    }
    if (!FindColumns(partial.header(), at)) {
        Complain(path,
                 "has no report columns: --merge --report needs slices run with "
                 "--report-columns");
        return false;
    }
    if (!partial.start(PartialReader::Section::Records)) {
        Complain(path, partial.error());
        return false;
    }
    return true;
}

}  // namespace

bool MergedReport::readColumns(const std::vector<std::string>& paths) {
    sliceStart_.clear();
    std::vector<std::string_view> addresses;
    std::vector<std::uint64_t> columns;
    for (const std::string& path : paths) {
        PartialReader partial;
        std::array<std::size_t, ReportColumns.size()> at{};
        if (!StartRecords(path, partial, at)) {
            return false;
        }
        sliceStart_.push_back(occurrences_.size());
        const std::size_t records = static_cast<std::size_t>(partial.counts().records);
        for (std::vector<std::uint64_t>* values :
             {&occurrences_, &sources_, &firstSource_, &lastSource_}) {
            values->reserve(values->size() + records);
        }
        const std::size_t stride = partial.header().columns.size();
        const std::size_t names = partial.header().sourceNames.size();
        while (partial.next(addresses, columns)) {
            for (std::size_t i = 0; i < addresses.size(); ++i) {
                const std::uint64_t* record = columns.data() + i * stride;
                // Every address occurs, in a source, named: else the columns were not written
                // by a slice.
                if (record[at[Occurrences]] == 0 || record[at[Sources]] == 0 ||
                    record[at[FirstSourceName]] >= names) {
                    Complain(path, "corrupt: an address's report columns do not hold together");
                    return false;
                }
                occurrences_.push_back(record[at[Occurrences]]);
                sources_.push_back(record[at[Sources]]);
                firstSource_.push_back(record[at[FirstSource]]);
                lastSource_.push_back(record[at[LastSource]]);
            }
        }
        if (partial.failed()) {
            Complain(path, partial.error());
            return false;
        }
    }
    sliceStart_.push_back(occurrences_.size());
    return true;
}

std::size_t MergedReport::placeOf(std::size_t slice, std::uint64_t record) const {
    if (slice + 1 >= sliceStart_.size() || record >= sliceStart_[slice + 1] - sliceStart_[slice]) {
        return occurrences_.size();
    }
    return sliceStart_[slice] + static_cast<std::size_t>(record);
}

void MergedReport::repeats(std::size_t keptSlice, std::uint64_t keptRecord, std::size_t slice,
                           std::uint64_t record) {
    const std::size_t kept = placeOf(keptSlice, keptRecord);
    const std::size_t repeat = placeOf(slice, record);
    if (kept >= occurrences_.size() || repeat >= occurrences_.size() || occurrences_[repeat] == 0) {
        return;  // the partials changed since their columns were read: their checksums tell
    }
    occurrences_[kept] += occurrences_[repeat];
    // A source cut across slices: the part in this slice is the same source as the part in
    // the last slice that held the address.
    sources_[kept] += sources_[repeat] - (firstSource_[repeat] == lastSource_[kept] ? 1 : 0);
    lastSource_[kept] = lastSource_[repeat];
    occurrences_[repeat] = 0;
}

bool MergedReport::write(const std::vector<std::string>& paths, const std::string& path,
                         OutputFile& file) {
    const std::string name = ShownOutputName(path);
    bool written = false;
    try {
        written = writeRows(paths, ReportFormatFor(path), file, name);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orlenta-extract: %s\n", FailureReason(error).c_str());
    }
    if (!written) {
        file.discard();
    }
    return written;
}

bool MergedReport::writeRows(const std::vector<std::string>& paths, ReportFormat format,
                             OutputFile& file, const std::string& fileName) {
    ReportRows rows(format, file);
    std::vector<std::string_view> addresses;
    std::vector<std::uint64_t> columns;
    for (std::size_t slice = 0; slice < paths.size(); ++slice) {
        PartialReader partial;
        std::array<std::size_t, ReportColumns.size()> at{};
        if (!StartRecords(paths[slice], partial, at)) {
            return false;
        }
        const PartialHeader& header = partial.header();
        const std::size_t stride = header.columns.size();
        std::uint64_t record = 0;
        while (partial.next(addresses, columns)) {
            for (std::size_t i = 0; i < addresses.size(); ++i, ++record) {
                const std::size_t place = placeOf(slice, record);
                if (place >= occurrences_.size() || occurrences_[place] == 0) {
                    continue;  // a repeat, or a record the columns' pass did not see
                }
                const std::uint64_t* values = columns.data() + i * stride;
                const std::uint64_t name = values[at[FirstSourceName]];
                if (name >= header.sourceNames.size()) {
                    Complain(paths[slice], "corrupt: an address names a first source it lacks");
                    return false;
                }
                const AddressReport::Row row{addresses[i],       occurrences_[place],
                                             sources_[place],    0,
                                             values[at[Offset]], lastSource_[place]};
                if (!rows.add(row, header.sourceNames[static_cast<std::size_t>(name)])) {
                    Complain(fileName, file.error());
                    return false;
                }
            }
        }
        if (partial.failed()) {
            Complain(paths[slice], partial.error());
            return false;
        }
    }
    if (!rows.finish()) {
        Complain(fileName, file.error());
        return false;
    }
    return true;
}

}  // namespace orlenta
