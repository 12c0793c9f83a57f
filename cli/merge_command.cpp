#include "cli/merge_command.h"

#include "cli/escaped_name.h"
#include "cli/extract_command.h"
#include "cli/merge_report.h"
#include "results/address_writer.h"
#include "results/output_file.h"
#include "results/partial_reader.h"

#include <queue>

#include <algorithm>
#include <cstdio>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace orlenta {

namespace {

void Complain(const std::string& name, const std::string& reason) {
    std::fprintf(stderr, "orlenta-extract: %s: %s\n", EscapedName(name).c_str(), reason.c_str());
}

std::string SliceName(const PartialHeader& header) {
    return std::to_string(header.sliceIndex) + "/" + std::to_string(header.sliceCount);
}

// Checks the partials' headers and trailers against one another; the counts of the whole run,
// or nullopt once a partial is named with what is wrong with it.
std::optional<PartialCounts> CheckPartials(const std::vector<std::string>& paths) {
    PartialCounts total;
    PartialHeader first;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        PartialReader partial;
        if (!partial.open(paths[i])) {
            Complain(paths[i], partial.error());
            return std::nullopt;
        }
        const PartialHeader& header = partial.header();
        if (i == 0) {
            first = header;
        }
        std::string wrong;
        if (header.sliceIndex == 0 || header.sliceIndex > header.sliceCount) {
            wrong = "corrupt: slice " + SliceName(header);
        } else if (header.programVersion != first.programVersion) {
            wrong = "written by orlenta-extract " + header.programVersion + ", " +
                    EscapedName(paths[0]) + " by " + first.programVersion +
                    ": slices of one run come from one version";
        } else if (header.sliceCount != first.sliceCount) {
            wrong = "slice " + SliceName(header) + " of a run cut in " +
                    std::to_string(header.sliceCount) + ", not " +
                    std::to_string(first.sliceCount) + " as " + EscapedName(paths[0]);
        } else if (header.options != first.options) {
            wrong = "made with other options (--lf, --all) than " + EscapedName(paths[0]);
        } else if (header.inputFingerprint != first.inputFingerprint) {
            wrong = "made from another input list (names, sizes or folders) than " +
                    EscapedName(paths[0]);
        } else if (i >= header.sliceCount) {
            wrong = "one partial too many: the run was cut in " +
                    std::to_string(header.sliceCount) + " slices";
        } else if (header.sliceIndex != i + 1) {
            wrong = "holds slice " + SliceName(header) + " where slice " + std::to_string(i + 1) +
                    "/" + std::to_string(header.sliceCount) +
                    " belongs: give the partials in slice order, each once";
        }
        if (!wrong.empty()) {
            Complain(paths[i], wrong);
            return std::nullopt;
        }
        const PartialCounts& counts = partial.counts();
        total.sources += counts.sources;
        total.sourcesRead += counts.sourcesRead;
        total.skipped += counts.skipped;
        total.foldersUnreadable = std::max(total.foldersUnreadable, counts.foldersUnreadable);
        total.records += counts.records;
    }
    if (paths.size() != first.sliceCount) {
        std::fprintf(stderr,
                     "orlenta-extract: --merge: %zu of %u slices given; slice %zu/%u is missing\n",
                     paths.size(), first.sliceCount, paths.size() + 1, first.sliceCount);
        return std::nullopt;
    }
    return total;
}

// For each slice, which of its records an earlier slice holds too: the slices' indexes, each
// sorted by (hash, lower-cased address), merged in that order, so that equal addresses meet
// one after another, the earliest slice's first. Memory: a bit per record and a buffer per
// slice, however many addresses. Checks every index's checksum; false once a partial is
// named as failing. Each repeat is told to `report` too, when there is one.
bool MarkRepeats(const std::vector<std::string>& paths, std::vector<std::vector<bool>>& repeated,
                 MergedReport* report) {
    struct Cursor {
        PartialReader reader;
        std::vector<PartialIndexEntry> batch;
        std::size_t at = 0;
        const PartialIndexEntry& entry() const { return batch[at]; }
    };
    // Buffers of 256 KB (reads that large cost no more than larger ones, and stay in the
    // cache), smaller when there are many slices: 64 MB in all at most.
    const std::size_t bufferBytes = std::max<std::size_t>(
        64 * 1024, std::min<std::size_t>(256 * 1024, (64 << 20) / paths.size()));
    std::vector<std::unique_ptr<Cursor>> cursors;
    repeated.assign(paths.size(), {});
    const auto failed = [&paths](std::size_t slice, const PartialReader& reader) {
        Complain(paths[slice], reader.error());
        return false;
    };
    const auto later = [&cursors](std::size_t a, std::size_t b) {
        const PartialIndexEntry& x = cursors[a]->entry();
        const PartialIndexEntry& y = cursors[b]->entry();
        if (x.hash != y.hash || x.lowered != y.lowered) {
            return IndexBefore(y.hash, y.lowered, x.hash, x.lowered);
        }
        return a > b;  // the same address: the earlier slice first
    };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(later)> heads(later);
    for (std::size_t slice = 0; slice < paths.size(); ++slice) {
        auto cursor = std::make_unique<Cursor>();
        if (!cursor->reader.open(paths[slice]) ||
            !cursor->reader.start(PartialReader::Section::Index, bufferBytes)) {
            return failed(slice, cursor->reader);
        }
        repeated[slice].resize(static_cast<std::size_t>(cursor->reader.counts().records));
        const bool any = cursor->reader.next(cursor->batch);
        if (cursor->reader.failed()) {
            return failed(slice, cursor->reader);
        }
        cursors.push_back(std::move(cursor));
        if (any) {
            heads.push(slice);
        }
    }
    // The last address taken: a view into its slice's batch, copied only before that batch is
    // refilled.
    bool any = false;
    std::size_t keptSlice = 0;  // where the last address taken was first met
    std::uint64_t keptRecord = 0;
    std::uint64_t lastHash = 0;
    std::string_view last;
    std::string lastCopy;
    while (!heads.empty()) {
        const std::size_t slice = heads.top();
        heads.pop();
        Cursor& cursor = *cursors[slice];
        const PartialIndexEntry& entry = cursor.entry();
        if (any && entry.hash == lastHash && entry.lowered == last) {
            repeated[slice][static_cast<std::size_t>(entry.record)] = true;
            if (report != nullptr) {
                report->repeats(keptSlice, keptRecord, slice, entry.record);
            }
        } else {
            any = true;
            keptSlice = slice;
            keptRecord = entry.record;
            lastHash = entry.hash;
            last = entry.lowered;
        }
        if (++cursor.at < cursor.batch.size()) {
            heads.push(slice);
            continue;
        }
        if (last.data() == entry.lowered.data()) {
            lastCopy.assign(last);
            last = lastCopy;
        }
        if (cursor.reader.next(cursor.batch)) {
            cursor.at = 0;
            heads.push(slice);
        } else if (cursor.reader.failed()) {
            return failed(slice, cursor.reader);
        }
    }
    return true;
}

// Reads every record of every partial for its checksum, writing nothing. The complaint about
// the first that fails ("FILE: REASON"), or nothing.
std::string VerifyRecords(const std::vector<std::string>& paths) {
    std::vector<std::string_view> batch;
    for (const std::string& path : paths) {
        PartialReader partial;
        if (partial.open(path) && partial.start(PartialReader::Section::Records)) {
            while (partial.next(batch)) {
            }
        }
        if (partial.failed()) {
            return EscapedName(path) + ": " + partial.error();
        }
    }
    return {};
}

// MarkRepeats, and for an output that cannot be taken back VerifyRecords beside it on a thread
// of its own (on this one when no thread can start). False once a partial is named as failing.
bool CheckBeforeWriting(const std::vector<std::string>& paths, bool verifyRecords,
                        std::vector<std::vector<bool>>& repeated, MergedReport* report) {
    std::future<std::string> verified;
    if (verifyRecords) {
        try {
            verified = std::async(std::launch::async, [&paths] { return VerifyRecords(paths); });
        } catch (const std::system_error&) {
        }
    }
    const bool marked = MarkRepeats(paths, repeated, report);
    std::string complaint;
    if (verifyRecords) {
        complaint = verified.valid() ? verified.get() : VerifyRecords(paths);
    }
    if (marked && !complaint.empty()) {
        std::fprintf(stderr, "orlenta-extract: %s\n", complaint.c_str());
    }
    return marked && complaint.empty();
}

// The records of the partials in slice order, but those an earlier slice holds; false once a
// partial is named as failing.
bool WriteFirstSpellings(const std::vector<std::string>& paths,
                         const std::vector<std::vector<bool>>& repeated, AddressWriter& output) {
    std::vector<std::string_view> batch;
    for (std::size_t slice = 0; slice < paths.size(); ++slice) {
        PartialReader partial;
        if (!partial.open(paths[slice]) || !partial.start(PartialReader::Section::Records)) {
            Complain(paths[slice], partial.error());
            return false;
        }
        const std::vector<bool>& repeats = repeated[slice];
        std::size_t record = 0;
        while (partial.next(batch)) {
            for (std::string_view address : batch) {
                if (!repeats[record++]) {
                    output.add(address);
                }
            }
        }
        if (partial.failed()) {
            Complain(paths[slice], partial.error());
            return false;
        }
    }
    return true;
}

}  // namespace

int RunMergeCommand(const CommandLine& commandLine) {
    const std::vector<std::string>& paths = commandLine.inputs;
    const std::optional<PartialCounts> total = CheckPartials(paths);
    if (!total) {
        return ExitSomeFailed;
    }
    const std::optional<std::string>& path = commandLine.outputPath;
    const bool toStandardOutput = !path || OutputFile::IsStandardOutputName(*path);
    const std::string outputName = toStandardOutput ? std::string("standard output") : *path;
    OutputFile file;
    const bool opened =
        toStandardOutput ? file.openStandardOutput() : file.open(*path, OutputFile::NoReader::Wait);
    if (!opened) {
        Complain(outputName, file.error());
        return ExitSomeFailed;
    }
    // The report likewise; its columns are read before the indexes are merged.
    OutputFile reportFile;
    std::optional<MergedReport> report;
    if (commandLine.reportPath) {
        if (!OpenReport(*commandLine.reportPath, toStandardOutput, reportFile)) {
            file.discard();
            return ExitSomeFailed;
        }
        report.emplace();
    }
    AddressWriter output(commandLine.format, file);
    try {
        // The indexes are read whole before anything is written. What goes through cannot be
        // taken back: there the records' checksums are checked first too; a file held until
        // commit is checked as it is read, and dropped if a partial fails.
        std::vector<std::vector<bool>> repeated;
        // Reading the report's columns checks the records' checksums already.
        if ((report && !report->readColumns(paths)) ||
            !CheckBeforeWriting(paths, file.way() == OutputFile::Way::Through && !report, repeated,
                                report ? &*report : nullptr) ||
            !WriteFirstSpellings(paths, repeated, output)) {
            file.discard();
            reportFile.discard();
            return ExitSomeFailed;
        }
    } catch (const std::exception& error) {
        file.discard();
        reportFile.discard();
        std::fprintf(stderr, "orlenta-extract: %s\n", FailureReason(error).c_str());
        return ExitSomeFailed;
    }
    if (!output.finish()) {
        Complain(outputName, file.error());
        reportFile.discard();
        return ExitSomeFailed;
    }
    if (report && !report->write(paths, *commandLine.reportPath, reportFile)) {
        return ExitSomeFailed;
    }
    return total->skipped == 0 && total->foldersUnreadable == 0 ? ExitOk : ExitSomeFailed;
}

}  // namespace orlenta
