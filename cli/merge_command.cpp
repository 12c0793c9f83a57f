#include "cli/merge_command.h"

#include "cli/escaped_name.h"
#include "cli/extract_command.h"
#include "cli/merge_report.h"
#include "results/address_writer.h"
#include "results/output_file.h"
#include "results/partial_reader.h"

#include <sys/resource.h>

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

// Checks the partials' headers and trailers against one another; the counts of the whole run
// (and each slice's in `counts`), or nullopt once a partial is named with what is wrong with it.
std::optional<PartialCounts> CheckPartials(const std::vector<std::string>& paths,
                                           std::vector<PartialCounts>& counts) {
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
        const PartialCounts& slice = partial.counts();
        counts.push_back(slice);
        total.sources += slice.sources;
        total.sourcesRead += slice.sourcesRead;
        total.skipped += slice.skipped;
        total.foldersUnreadable = std::max(total.foldersUnreadable, slice.foldersUnreadable);
        total.records += slice.records;
    }
    if (paths.size() != first.sliceCount) {
        std::fprintf(stderr,
                     "orlenta-extract: --merge: %zu of %u slices given; slice %zu/%u is missing\n",
                     paths.size(), first.sliceCount, paths.size() + 1, first.sliceCount);
        return std::nullopt;
    }
    return total;
}

// The merge reads every partial's index at once, a descriptor each, beside a few of its own
// (the standard ones, the output and the report, the readers of the records). A soft limit
// below that is raised toward the hard one; false once the merge is named as needing more.
bool EnoughDescriptors(std::size_t partials) {
    constexpr rlim_t OwnDescriptors = 16;
    const rlim_t needed = static_cast<rlim_t>(partials) + OwnDescriptors;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur >= needed) {
        return true;
    }
    if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= needed) {
        limit.rlim_cur = needed;
        if (::setrlimit(RLIMIT_NOFILE, &limit) == 0) {
            return true;
        }
    }
    std::fprintf(stderr,
                 "orlenta-extract: --merge of %zu partials needs %llu open files, and the limit "
                 "is %llu (ulimit -n)\n",
                 partials, static_cast<unsigned long long>(needed),
                 static_cast<unsigned long long>(limit.rlim_max));
    return false;
}

// One byte per record of each slice: 1 where an earlier slice holds the same address.
using RepeatMarks = std::vector<std::vector<unsigned char>>;

// Each partial's sections are read through a buffer of this many bytes, 256 KB shared by the
// slices (64 KB each at least): buffers that stay in the cache, with the batches they hand
// out, cost less than larger ones, whose pages the system must first clear.
std::size_t SectionWindow(std::size_t slices) {
    return std::max<std::size_t>(64 * 1024,
                                 std::min<std::size_t>(256 * 1024, (256 * 1024) / slices));
}

// A slice's index as the merge walks it: its reader and the batch of entries at hand.
struct IndexCursor {
    PartialReader reader;
    std::vector<PartialIndexEntry> batch;
    std::size_t at = 0;
    const PartialIndexEntry& entry() const { return batch[at]; }
};

// The slices whose indexes still have entries, in the order of their heads, the earlier slice
// first among equal ones (the slice numbers: the index into `cursors`). With few slices a scan
// of the heads is quicker than a heap; with many (a cluster's hundreds) a heap.
class IndexHeads final {
public:
    static constexpr std::size_t None = static_cast<std::size_t>(-1);

    // `cursors` fills up as the slices are added, to `slices` of them.
    IndexHeads(const std::vector<std::unique_ptr<IndexCursor>>& cursors, std::size_t slices)
        : cursors_(cursors), scan_(slices <= 8) {}

    // Slices must be added in slice order.
    void add(std::size_t slice) {
        live_.push_back(slice);
        hashes_.push_back(cursors_[slice]->entry().hash);
        if (!scan_) {
            std::push_heap(live_.begin(), live_.end(), Later{cursors_});
        }
    }

    // The slice whose head comes first, or None.
    std::size_t first() {
        if (live_.empty()) {
            return None;
        }
        if (!scan_) {
            return live_.front();
        }
        // The heads' hashes sit side by side: most steps compare them alone.
        std::size_t best = 0;
        std::uint64_t bestHash = hashes_[0];
        for (std::size_t i = 1; i < live_.size(); ++i) {
            const std::uint64_t hash = hashes_[i];
            // Strictly before: among equal heads the earlier slice stays.
            if (hash < bestHash ||
                (hash == bestHash &&
                 cursors_[live_[i]]->entry().lowered < cursors_[live_[best]]->entry().lowered)) {
                best = i;
                bestHash = hash;
            }
        }
        firstAt_ = best;
        return live_[best];
    }

    // The first slice's head moved on to its next entry.
    void moved(std::size_t slice) {
        if (scan_) {
            hashes_[firstAt_] = cursors_[slice]->entry().hash;
        } else {
            std::pop_heap(live_.begin(), live_.end(), Later{cursors_});
            std::push_heap(live_.begin(), live_.end(), Later{cursors_});
        }
    }

    // The first slice has no entries left.
    void drop() {
        if (scan_) {
            live_.erase(live_.begin() + static_cast<std::ptrdiff_t>(firstAt_));
            hashes_.erase(hashes_.begin() + static_cast<std::ptrdiff_t>(firstAt_));
        } else {
            std::pop_heap(live_.begin(), live_.end(), Later{cursors_});
            live_.pop_back();
        }
    }

private:
    // The heap's order: the top is the first head.
    struct Later {
        const std::vector<std::unique_ptr<IndexCursor>>& cursors;
        bool operator()(std::size_t a, std::size_t b) const {
            const PartialIndexEntry& x = cursors[a]->entry();
            const PartialIndexEntry& y = cursors[b]->entry();
            if (x.hash != y.hash || x.lowered != y.lowered) {
                return IndexBefore(y.hash, y.lowered, x.hash, x.lowered);
            }
            return a > b;  // the same address: the earlier slice first
        }
    };

    const std::vector<std::unique_ptr<IndexCursor>>& cursors_;
    const bool scan_;
    std::vector<std::size_t> live_;      // slices with entries left (a heap unless scan_)
    std::vector<std::uint64_t> hashes_;  // scan_: the hash of each one's head
    std::size_t firstAt_ = 0;            // scan_: where first() found the first in live_
};

// For each slice, which of its records an earlier slice holds too: the slices' indexes, each
// sorted by (hash, lower-cased address), merged in that order, so that equal addresses meet
// one after another, the earliest slice's first. Memory: a byte per record and a buffer per
// slice, however many addresses. Checks every index's checksum; false once a partial is
// named as failing. Each repeat is told to `report` too, when there is one.
bool MarkRepeats(const std::vector<std::string>& paths, RepeatMarks& repeated,
                 MergedReport* report) {
    const std::size_t window = SectionWindow(paths.size());
    std::vector<std::unique_ptr<IndexCursor>> cursors;
    repeated.assign(paths.size(), {});
    const auto failed = [&paths](std::size_t slice, const PartialReader& reader) {
        Complain(paths[slice], reader.error());
        return false;
    };
    IndexHeads heads(cursors, paths.size());
    for (std::size_t slice = 0; slice < paths.size(); ++slice) {
        auto cursor = std::make_unique<IndexCursor>();
        if (!cursor->reader.open(paths[slice]) ||
            !cursor->reader.start(PartialReader::Section::Index, window)) {
            return failed(slice, cursor->reader);
        }
        repeated[slice].assign(static_cast<std::size_t>(cursor->reader.counts().records), 0);
        const bool any = cursor->reader.next(cursor->batch);
        if (cursor->reader.failed()) {
            return failed(slice, cursor->reader);
        }
        cursors.push_back(std::move(cursor));
        if (any) {
            heads.add(slice);
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
    for (std::size_t slice = heads.first(); slice != IndexHeads::None; slice = heads.first()) {
        IndexCursor& cursor = *cursors[slice];
        const PartialIndexEntry& entry = cursor.entry();
        if (any && entry.hash == lastHash && entry.lowered == last) {
            // Record `entry.record` of `slice` repeats an address an earlier slice holds.
            repeated[slice][static_cast<std::size_t>(entry.record)] = 1;
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
            heads.moved(slice);
            continue;
        }
        if (last.data() == entry.lowered.data()) {
            lastCopy.assign(last);
            last = lastCopy;
        }
        if (cursor.reader.next(cursor.batch)) {
            cursor.at = 0;
            heads.moved(slice);
        } else if (cursor.reader.failed()) {
            return failed(slice, cursor.reader);
        } else {
            heads.drop();
        }
    }
    return true;
}

// The records of one slice in `output`, but those `repeats` marks (none when null); the
// complaint about the partial ("FILE: REASON") when it fails, or nothing.
std::string WriteSlice(const std::string& path, const std::vector<unsigned char>* repeats,
                       std::size_t window, AddressWriter& output) {
    PartialReader partial;
    if (partial.open(path) && partial.start(PartialReader::Section::Records, window)) {
        std::vector<std::string_view> batch;
        std::size_t record = 0;
        while (partial.next(batch)) {
            if (repeats == nullptr) {
                for (std::string_view address : batch) {
                    output.add(address);
                }
                continue;
            }
            const unsigned char* repeated = repeats->data() + record;
            for (std::size_t i = 0; i < batch.size(); ++i) {
                if (repeated[i] == 0) {
                    output.add(batch[i]);
                }
            }
            record += batch.size();
        }
    }
    return partial.failed() ? EscapedName(path) + ": " + partial.error() : std::string();
}

// The most bytes of formatted addresses held in memory at once, on top of the buffers: a
// slice's share is at most its records' bytes and one per record (a CR LF for the record's
// length).
constexpr std::uint64_t HeldBytes = 64 << 20;

std::uint64_t HeldSize(const PartialCounts& counts) {
    return counts.recordBytes + counts.records;
}

// What is read of the records while the indexes merge, on another thread: the first slice's
// records formatted and held (no earlier slice can hold its addresses, so they need no marks),
// and, for an output that cannot be taken back, every other slice's records checked against
// their checksum before the first byte is written.
struct RecordsAhead {
    explicit RecordsAhead(ResultFormat format) : firstSlice(format) {}

    AddressWriter firstSlice;  // held, not written
    bool formatted = false;    // firstSlice holds all of slice 1
    std::string complaint;     // "FILE: REASON" of the first partial that failed
};

void ReadRecordsAhead(const std::vector<std::string>& paths,
                      const std::vector<PartialCounts>& counts, bool checkAll,
                      RecordsAhead& ahead) {
    const std::size_t window = SectionWindow(paths.size());
    if (HeldSize(counts[0]) <= HeldBytes) {
        ahead.firstSlice.reserve(static_cast<std::size_t>(HeldSize(counts[0])));
        ahead.complaint = WriteSlice(paths[0], nullptr, window, ahead.firstSlice);
        ahead.formatted = ahead.complaint.empty();
    }
    for (std::size_t slice = ahead.formatted ? 1 : 0;
         checkAll && ahead.complaint.empty() && slice < paths.size(); ++slice) {
        PartialReader partial;
        if (!partial.open(paths[slice]) ||
            !partial.start(PartialReader::Section::Records, window) || !partial.check()) {
            ahead.complaint = EscapedName(paths[slice]) + ": " + partial.error();
        }
    }
}

// MarkRepeats, and ReadRecordsAhead beside it on a thread of its own (after it on this one
// when no thread can start); with `checkAll`, for an output that cannot be taken back, every
// partial's checksums are checked before the first byte is written. False once a partial is
// named as failing.
bool CheckBeforeWriting(const std::vector<std::string>& paths,
                        const std::vector<PartialCounts>& counts, bool checkAll,
                        RepeatMarks& repeated, RecordsAhead& ahead, MergedReport* report) {
    std::future<void> read;
    try {
        read = std::async(std::launch::async, [&paths, &counts, checkAll, &ahead] {
            ReadRecordsAhead(paths, counts, checkAll, ahead);
        });
    } catch (const std::system_error&) {
    }
    const bool marked = MarkRepeats(paths, repeated, report);
    if (read.valid()) {
        read.get();
    } else if (marked) {
        ReadRecordsAhead(paths, counts, checkAll, ahead);
    }
    if (marked && !ahead.complaint.empty()) {
        std::fprintf(stderr, "orlenta-extract: %s\n", ahead.complaint.c_str());
    }
    return marked && ahead.complaint.empty();
}

// The records of the partials in slice order, but those an earlier slice holds; false once a
// partial is named as failing. The last slices (up to about half the records, and HeldBytes)
// are formatted on another thread meanwhile, held, and written after the others.
bool WriteFirstSpellings(const std::vector<std::string>& paths,
                         const std::vector<PartialCounts>& counts, const RepeatMarks& repeated,
                         RecordsAhead& ahead, AddressWriter& output) {
    const std::size_t window = SectionWindow(paths.size());
    const std::size_t from = ahead.formatted ? 1 : 0;
    std::uint64_t rest = 0;
    for (std::size_t slice = from; slice < paths.size(); ++slice) {
        rest += HeldSize(counts[slice]);
    }
    std::size_t tail = paths.size();  // the first slice of those formatted beside
    std::uint64_t tailSize = 0;
    while (tail > from + 1 && tailSize + HeldSize(counts[tail - 1]) <= HeldBytes &&
           (tailSize + HeldSize(counts[tail - 1])) * 8 <= rest * 5) {
        tailSize += HeldSize(counts[--tail]);
    }
    AddressWriter held(ahead.firstSlice.format());
    held.reserve(static_cast<std::size_t>(tailSize));
    const auto writeTail = [&paths, &repeated, window, tail, &held] {
        for (std::size_t slice = tail; slice < paths.size(); ++slice) {
            std::string complaint = WriteSlice(paths[slice], &repeated[slice], window, held);
            if (!complaint.empty()) {
                return complaint;
            }
        }
        return std::string();
    };
    std::future<std::string> tailWritten;
    if (tail < paths.size()) {
        try {
            tailWritten = std::async(std::launch::async, writeTail);
        } catch (const std::system_error&) {
            tail = paths.size();  // no thread: all on this one
        }
    }
    output.add(ahead.firstSlice);
    std::string complaint;
    for (std::size_t slice = from; slice < tail && complaint.empty(); ++slice) {
        complaint =
            WriteSlice(paths[slice], slice == 0 ? nullptr : &repeated[slice], window, output);
    }
    if (tailWritten.valid()) {
        std::string tailComplaint = tailWritten.get();
        if (complaint.empty()) {
            complaint = std::move(tailComplaint);
        }
        if (complaint.empty()) {
            output.add(held);
        }
    }
    if (!complaint.empty()) {
        std::fprintf(stderr, "orlenta-extract: %s\n", complaint.c_str());
        return false;
    }
    return true;
}

}  // namespace

int RunMergeCommand(const CommandLine& commandLine) {
    const std::vector<std::string>& paths = commandLine.inputs;
    if (!EnoughDescriptors(paths.size())) {
        return ExitSomeFailed;
    }
    std::vector<PartialCounts> counts;
    const std::optional<PartialCounts> total = CheckPartials(paths, counts);
    if (!total) {
        return ExitSomeFailed;
    }
    const std::optional<std::string>& path = commandLine.outputPath;
    const bool toStandardOutput = !path || OutputFile::IsStandardOutputName(*path);
    const std::string outputName = ShownOutputName(path.value_or("-"));
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
        RepeatMarks repeated;
        RecordsAhead ahead(commandLine.format);
        // Reading the report's columns checks the records' checksums already.
        if ((report && !report->readColumns(paths)) ||
            !CheckBeforeWriting(paths, counts, file.way() == OutputFile::Way::Through && !report,
                                repeated, ahead, report ? &*report : nullptr) ||
            !WriteFirstSpellings(paths, counts, repeated, ahead, output)) {
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
    // Both written whole before either is committed: a report that fails leaves the old
    // output as it was too.
    if (!output.flush()) {
        Complain(outputName, file.error());
        file.discard();
        reportFile.discard();
        return ExitSomeFailed;
    }
    file.syncEarly();
    if (report && !report->write(paths, *commandLine.reportPath, reportFile)) {
        file.discard();
        return ExitSomeFailed;
    }
    if (const OutputFile* failed = OutputFile::CommitTogether({&file, &reportFile})) {
        Complain(failed == &file ? outputName : ShownOutputName(*commandLine.reportPath),
                 failed->error());
        return ExitSomeFailed;
    }
    return total->skipped == 0 && total->foldersUnreadable == 0 ? ExitOk : ExitSomeFailed;
}

}  // namespace orlenta
