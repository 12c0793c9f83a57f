#include "cli/extract_command.h"

#include "cli/address_report.h"
#include "cli/escaped_name.h"
#include "cli/input_list.h"
#include "cli/progress_line.h"
#include "cli/report_columns.h"
#include "cli/report_writer.h"
#include "engine/archive_library.h"
#include "engine/archive_source.h"
#include "engine/extraction_run.h"
#include "engine/mail_decoding_source.h"
#include "engine/parallel_run.h"
#include "engine/temporary_files.h"
#include "results/address_writer.h"
#include "results/output_file.h"
#include "results/partial_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <future>
#include <new>
#include <stdexcept>
#include <thread>

namespace orlenta {

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::string Complaint(const std::string& name, const std::string& reason) {
    return "orlenta-extract: " + EscapedName(name) + ": " + reason;
}

void Complain(const std::string& name, const std::string& reason) {
    std::fprintf(stderr, "%s\n", Complaint(name, reason).c_str());
}

// --unpack and --mail together: a packed file's members are read through the mail decoder,
// as a plain file is.
ChunkReader UnpackingMail(ChunkReader reader) {
    ChunkReader unpacked = Unpacking(std::move(reader), [](std::unique_ptr<ByteSource> members) {
        return std::unique_ptr<ByteSource>(
            std::make_unique<MailDecodingSource>(std::move(members)));
    });
    if (unpacked.madeOfMembers()) {
        return unpacked;
    }
    return ReadAsMail(std::move(unpacked));
}

// Unasked, the line is for someone watching a terminal while the addresses go elsewhere: not
// into a log, and not onto the same terminal, where it would get in the way of the addresses.
ProgressLine::When ProgressWhen(const CommandLine& commandLine) {
    if (commandLine.progress == CommandLine::Progress::Always) {
        return ProgressLine::When::FromTheStart;
    }
    const bool toStandardOutput =
        !commandLine.outputPath || OutputFile::IsStandardOutputName(*commandLine.outputPath);
    return ::isatty(STDERR_FILENO) && !(toStandardOutput && ::isatty(STDOUT_FILENO))
               ? ProgressLine::When::AfterOneSecond
               : ProgressLine::When::Never;
}

// Writes every new address as it comes (when the output could be opened, and to the partial
// file when there is one), names each unreadable source at once, keeps the progress line going
// and, for --report and --report-columns, tallies every occurrence and notes which input each
// source of the report belongs to (a packed file's members are sources of one input).
class StreamingSink final : public RunSink {
public:
    StreamingSink(AddressWriter* output, PartialWriter* partial, ProgressLine& progress,
                  AddressReport* report)
        : output_(output), partial_(partial), progress_(progress), report_(report) {}

    bool yield(YieldPoint point) override {
        if (point == YieldPoint::BeforeFile) {
            progress_.fileStarted();
            ++inputsStarted_;
        }
        return true;
    }
    void chunkRead(std::size_t size) override { progress_.bytesRead(size); }
    void addressFound(std::string_view address) override {
        if (output_ != nullptr) {
            output_->add(address);
        }
        if (partial_ != nullptr) {
            partial_->add(address);
        }
        ++addresses_;
        progress_.addressFound();
    }
    bool wantsOccurrences() override { return report_ != nullptr; }
    void sourceStarted(const std::string& name) override {
        report_->sourceStarted(name);
        // Each input's sources follow its BeforeFile yield.
        inputOfSource_.push_back(inputsStarted_ == 0 ? 0 : inputsStarted_ - 1);
    }
    void occurrencesFound(const Occurrence* occurrences, std::size_t count) override {
        report_->add(occurrences, count);
    }
    bool takesCounts() override { return report_ != nullptr; }
    void countsFound(AddressCounts counts) override { report_->take(std::move(counts)); }
    void fileSkipped(const std::string& path, const std::string& reason) override {
        progress_.message(Complaint(path, reason));
    }

    std::uint64_t addresses() const { return addresses_; }
    std::vector<std::size_t>& inputOfSource() { return inputOfSource_; }

private:
    AddressWriter* output_;
    PartialWriter* partial_;
    ProgressLine& progress_;
    AddressReport* report_;
    std::uint64_t addresses_ = 0;
    std::size_t inputsStarted_ = 0;
    std::vector<std::size_t> inputOfSource_;
};

// The slice of the input this run reads (all of it without --slice), and what its partial
// file says of it.
struct SliceRun {
    std::vector<Input> inputs;
    PartialHeader header;
    std::uint64_t sourcesStarting = 0;
    std::size_t firstInput = 0;  // the place of inputs[0] in the whole list
};

std::uint32_t PartialOptionsOf(const CommandLine& commandLine) {
    std::uint32_t options = 0;
    if (commandLine.loneLf == LoneLf::EndsToken) {
        options |= PartialOptionLoneLf;
    }
    if (commandLine.folderFiles == FolderFiles::All) {
        options |= PartialOptionAllFiles;
    }
    if (commandLine.unpack) {
        options |= PartialOptionUnpack;
    }
    if (commandLine.mail) {
        options |= PartialOptionMail;
    }
    return options;
}

// Cuts the slice out of the expanded list; nullopt, with the reason named, when the list has a
// source of no known size.
std::optional<SliceRun> CutSlice(const CommandLine& commandLine, const InputList& expanded) {
    const InputSizes sized = SizesOfInputs(expanded.inputs);
    if (!sized.refusal.empty()) {
        std::fprintf(stderr, "orlenta-extract: %s\n", sized.refusal.c_str());
        return std::nullopt;
    }
    const SliceChoice choice = commandLine.slice.value_or(SliceChoice{});
    // Packed files and mails are decoded from their first byte: they are never cut.
    const bool wholeSources = commandLine.unpack || commandLine.mail;
    SlicePlan plan = PlanSlice(expanded.inputs, sized.sizes, choice, wholeSources);
    SliceRun slice;
    slice.inputs = std::move(plan.inputs);
    slice.sourcesStarting = plan.sourcesStarting;
    slice.firstInput = plan.firstInput;
    slice.header.programVersion = ORLENTA_VERSION;
    slice.header.sliceIndex = choice.index;
    slice.header.sliceCount = choice.count;
    slice.header.options = PartialOptionsOf(commandLine);
    slice.header.inputFingerprint = FingerprintOf(expanded, sized.sizes, slice.header.options);
    return slice;
}

// Opens the reader of one source. A later part of a file (a slice that begins inside it) that
// cannot be opened gives nothing: the slice with its first byte names it, once. A want of
// descriptors is left for the run to answer.
ChunkReader OpenInput(const Input& input) {
    if (input.kind == Input::Kind::StandardInput) {
        return ChunkReader::FromStream(STDIN_FILENO, StandardInputName);
    }
    // A pipe named as a path ("<(zcat logs.gz)") is read as standard input is; a file met in a
    // folder must still be the regular file the walk saw, never a FIFO waited on.
    ChunkReader reader(
        input.path,
        input.kind == Input::Kind::Path ? PathKinds::RegularFilesAndPipes : PathKinds::RegularFiles,
        input.range);
    if (input.range.begin > 0 && !reader.ok() && !reader.outOfDescriptors()) {
        return ChunkReader::Empty(input.path);
    }
    return reader;
}

}  // namespace

std::string FailureReason(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
        return "out of memory";
    }
    if (dynamic_cast<const std::length_error*>(&error) != nullptr) {
        return std::string("out of memory (") + error.what() + ")";
    }
    return error.what();
}

std::string ShownOutputName(const std::string& path) {
    return OutputFile::IsStandardOutputName(path) ? std::string("standard output") : path;
}

bool OpenReport(const std::string& path, bool outputToStandardOutput, OutputFile& file) {
    if (OutputFile::IsStandardOutputName(path)) {
        if (outputToStandardOutput) {
            Complain("--report -", "the addresses go to standard output already");
            return false;
        }
        if (!file.openStandardOutput()) {
            Complain("standard output", file.error());
            return false;
        }
        return true;
    }
    if (!file.open(path, OutputFile::NoReader::Wait)) {
        Complain(path, file.error());
        return false;
    }
    return true;
}

int RunExtractCommand(const CommandLine& commandLine) {
    // --unpack's library is loaded for it alone: refused before anything is read when it
    // cannot be.
    if (commandLine.unpack) {
        std::string error;
        if (!LoadArchiveLibrary(error)) {
            std::fprintf(stderr, "orlenta-extract: --unpack: %s\n", error.c_str());
            return ExitSomeFailed;
        }
    }
    const unsigned threads = commandLine.threads == 0 ? AvailableProcessors() : commandLine.threads;
    const FolderFiles folderFiles =
        commandLine.unpack && commandLine.folderFiles == FolderFiles::ExpectedKinds
            ? FolderFiles::ExpectedKindsAndPacked
            : commandLine.folderFiles;
    const InputList expanded =
        ExpandInputs(commandLine.inputs, folderFiles, threads,
                     commandLine.mail ? ReadForContent(LooksLikeMailFile) : ReadForContent());
    for (const UnreadableInput& folder : expanded.unreadable) {
        Complain(folder.path, folder.reason);
    }
    std::optional<SliceRun> slice;
    if (commandLine.slice || commandLine.partialPath) {
        slice = CutSlice(commandLine, expanded);
        if (!slice) {
            return ExitUsage;
        }
    }
    const std::vector<Input>& inputs = slice ? slice->inputs : expanded.inputs;

    // The partial file, opened first like the output, so a refusal costs no reading.
    OutputFile partialFile;
    std::optional<PartialWriter> partial;
    if (commandLine.partialPath) {
        const std::string& partialPath = *commandLine.partialPath;
        const bool opened = OutputFile::IsStandardOutputName(partialPath)
                                ? partialFile.openStandardOutput()
                                : partialFile.open(partialPath, OutputFile::NoReader::Wait);
        if (!opened) {
            Complain(ShownOutputName(partialPath), partialFile.error());
            return ExitSomeFailed;
        }
        // With --report-columns the records wait for the report's counts, and the header
        // for the names of the first sources: all is written at the end.
        if (!commandLine.reportColumns) {
            partial.emplace(slice->header, partialFile);
        }
    }

    // Standard output for no -o or "-o -"; otherwise the named file, which OutputFile replaces
    // only once complete or writes in place (a device or FIFO is written through, as ">" does).
    // Opened before the run so the addresses go out as they are found, and so an output that
    // cannot be had is refused before any input is read.
    // With --partial and no -o, the addresses go to the partial file only.
    const std::optional<std::string>& path = commandLine.outputPath;
    const bool toStandardOutput = !path || OutputFile::IsStandardOutputName(*path);
    const bool writesList = path || !commandLine.partialPath;
    OutputFile file;
    if (writesList) {
        const bool opened = toStandardOutput ? file.openStandardOutput()
                                             : file.open(*path, OutputFile::NoReader::Wait);
        if (!opened) {
            Complain(ShownOutputName(path.value_or("-")), file.error());
            return ExitSomeFailed;
        }
    }
    // The report likewise, before any input is read; its rows wait in memory for the end.
    OutputFile reportFile;
    std::optional<AddressReport> report;
    if (commandLine.reportPath) {
        if (!OpenReport(*commandLine.reportPath, toStandardOutput, reportFile)) {
            file.discard();
            return ExitSomeFailed;
        }
        report.emplace();
    }
    if (commandLine.reportColumns) {
        report.emplace();
    }
    AddressWriter output(commandLine.format, file);
    ProgressLine progress(stderr, ProgressWhen(commandLine), inputs.size());
    StreamingSink sink(writesList ? &output : nullptr, partial ? &*partial : nullptr, progress,
                       report ? &*report : nullptr);

    const SourceOpener openPlain = [&inputs](std::size_t i) { return OpenInput(inputs[i]); };
    // --unpack: each source looked at by its content once open; a plain file is read as above.
    const SourceOpener openUnpacking = [&openPlain](std::size_t i) {
        return Unpacking(openPlain(i));
    };
    // --mail: every source read through the mail decoder, which passes what is no mail through
    // unchanged; with --unpack, every member of a packed file too.
    const SourceOpener openMail = [&openPlain](std::size_t i) { return ReadAsMail(openPlain(i)); };
    const SourceOpener openUnpackingMail = [&openPlain](std::size_t i) {
        return UnpackingMail(openPlain(i));
    };
    const SourceOpener& openAt = commandLine.mail
                                     ? (commandLine.unpack ? openUnpackingMail : openMail)
                                     : (commandLine.unpack ? openUnpacking : openPlain);
    // Regular files only, and never waiting; the rest is opened at its turn, as is whatever
    // fails here. A FIFO must not even be opened to be refused: a writer waiting for a reader
    // would take that open for its reader, and what it wrote would go when it closed. Folder
    // entries were regular files when the walk listed them; a named path is looked at first.
    const bool unpack = commandLine.unpack;
    const bool mail = commandLine.mail;
    const AheadOpener openAhead = [&inputs, unpack,
                                   mail](std::size_t i) -> std::optional<ChunkReader> {
        const Input& input = inputs[i];
        // A mail is decoded at its turn, by the planner, as a stream: opened ahead, each
        // would hold its decoder's buffers meanwhile.
        if (mail || input.kind == Input::Kind::StandardInput ||
            (input.kind == Input::Kind::Path && !IsRegularFile(input.path))) {
            return std::nullopt;
        }
        ChunkReader reader(input.path, PathKinds::RegularFiles, input.range);
        if (!reader.ok()) {
            return std::nullopt;
        }
        if (!unpack) {
            return reader;
        }
        // A packed file is left to the planner, which reads it at its turn as a stream.
        ChunkReader unpacked = Unpacking(std::move(reader));
        if (unpacked.madeOfMembers() || !unpacked.ok()) {
            return std::nullopt;
        }
        return unpacked;
    };
    MemoryBudget budget;
    budget.bytes = commandLine.memory != 0 ? commandLine.memory : HalfOfPhysicalMemory();
    // Mail lines end in CR LF or LF alike.
    const LoneLf loneLf = mail ? LoneLf::EndsToken : commandLine.loneLf;
    RunResult result;
    try {
        result = threads == 1 ? RunExtractionFrom(inputs.size(), openAt, sink, loneLf, budget)
                              : RunExtractionInParallel(inputs.size(), openAt, sink, threads,
                                                        loneLf, openAhead, budget);
    } catch (const std::exception& error) {
        // Memory ran out, the set of addresses reached a size it cannot pass, or a temporary
        // file could not be written: the output would lack addresses, so an -o file is left
        // as it was.
        file.discard();
        partialFile.discard();
        reportFile.discard();
        progress.finish();
        std::fprintf(stderr, "orlenta-extract: %s\n", FailureReason(error).c_str());
        return ExitSomeFailed;
    }
    progress.finish();

    // The report's rows are written while the list is put on disk: both mostly wait for it.
    bool reported = true;
    std::exception_ptr reportFailure;
    const auto writeReport = [&] {
        try {
            reported = WriteReport(*report, ReportFormatFor(*commandLine.reportPath), reportFile);
        } catch (...) {
            reportFailure = std::current_exception();
        }
    };
    std::promise<void> rowsWritten;  // by the report's thread, before it syncs the report
    std::future<void> rowsDone = rowsWritten.get_future();
    std::thread reportWriter;
    // Joined however this function is left (a throw included): never destroyed running.
    struct Joined {
        std::thread& thread;
        ~Joined() {
            if (thread.joinable()) {
                thread.join();
            }
        }
    } joined{reportWriter};
    if (commandLine.reportPath) {
        try {
            // The terminating signals are left to this thread, as when it is alone: its commit
            // of the list blocks them while it writes in place, which a signal handled on
            // another thread would cut in half. The report's threads take the mask blocked.
            const TerminatingSignalsBlocked blocked;
            reportWriter = std::thread([&] {
                writeReport();
                rowsWritten.set_value();
                // On disk while the list may still be going there.
                reportFile.syncEarly();
            });
        } catch (const std::exception&) {
        }
        if (!reportWriter.joinable()) {
            writeReport();  // no thread to be had: before the list then
        }
    }

    // Every output is written whole before any is committed: then all take their place, or
    // none does and the old files stay as they were (a report that cannot be written leaves
    // no new list beside an old report).
    const std::string listName = ShownOutputName(path.value_or("-"));
    bool written = true;
    if (writesList && !output.flush()) {
        Complain(listName, file.error());
        written = false;
    }
    // On disk while the report may still be going there.
    file.syncEarly();
    if (commandLine.reportColumns && written) {
        // The report's rows are the run's new addresses in their order; a report that lost
        // count of them must not stand for the slice.
        if (report->size() != sink.addresses()) {
            std::fprintf(stderr,
                         "orlenta-extract: the report counts %zu addresses where the run found "
                         "%llu\n",
                         report->size(), static_cast<unsigned long long>(sink.addresses()));
            partialFile.discard();
            return ExitSomeFailed;
        }
        try {
            SliceSources sources;
            sources.inputOfSource = std::move(sink.inputOfSource());
            sources.firstInput = slice->firstInput;
            sources.firstInputBegin = inputs.empty() ? 0 : inputs.front().range.begin;
            AddReportColumns(*report, slice->header);
            partial.emplace(slice->header, partialFile);
            AddReportRecords(*report, sources, *partial);
        } catch (const std::exception& error) {
            partialFile.discard();
            std::fprintf(stderr, "orlenta-extract: %s\n", FailureReason(error).c_str());
            return ExitSomeFailed;
        }
    }
    if (commandLine.partialPath && !partial) {
        partialFile.discard();
    } else if (partial) {
        PartialCounts counts;
        counts.sources = slice->sourcesStarting;
        counts.sourcesRead = result.filesRead;
        counts.skipped = result.skipped.size();
        counts.foldersUnreadable = expanded.unreadable.size();
        // A partial is kept only with the whole result: a list that could not be written
        // must not leave a partial that says the slice was done.
        if (written && !partial->finish(counts)) {
            Complain(ShownOutputName(*commandLine.partialPath), partialFile.error());
            written = false;
        }
    }
    if (reportWriter.joinable()) {
        rowsDone.wait();
        // While the report's file is synced, its tables go (the partial has taken its
        // columns already): the exit frees little.
        report.reset();
        reportWriter.join();
    }
    const std::string reportName = ShownOutputName(commandLine.reportPath.value_or(""));
    if (reportFailure) {
        file.discard();
        partialFile.discard();
        reportFile.discard();
        std::rethrow_exception(reportFailure);
    }
    if (!reported) {
        Complain(reportName, reportFile.error());
    }
    if (!written || !reported) {
        file.discard();
        partialFile.discard();
        reportFile.discard();
    } else if (const OutputFile* failed =
                   OutputFile::CommitTogether({&file, &partialFile, &reportFile})) {
        Complain(failed == &file          ? listName
                 : failed == &partialFile ? ShownOutputName(*commandLine.partialPath)
                                          : reportName,
                 failed->error());
        written = false;
    }
    return result.skipped.empty() && expanded.unreadable.empty() && written && reported
               ? ExitOk
               : ExitSomeFailed;
}

}  // namespace orlenta
