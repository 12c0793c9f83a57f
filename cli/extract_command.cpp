#include "cli/extract_command.h"

#include "cli/address_report.h"
#include "cli/escaped_name.h"
#include "cli/input_list.h"
#include "cli/progress_line.h"
#include "cli/report_writer.h"
#include "engine/extraction_run.h"
#include "engine/parallel_run.h"
#include "results/address_writer.h"
#include "results/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <new>
#include <stdexcept>

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

// Writes every new address as it comes (when the output could be opened), names each
// unreadable source at once, keeps the progress line going and, for --report, tallies every
// occurrence.
class StreamingSink final : public RunSink {
public:
    StreamingSink(AddressWriter* output, ProgressLine& progress, AddressReport* report)
        : output_(output), progress_(progress), report_(report) {}

    bool yield(YieldPoint point) override {
        if (point == YieldPoint::BeforeFile) {
            progress_.fileStarted();
        }
        return true;
    }
    void chunkRead(std::size_t size) override { progress_.bytesRead(size); }
    void addressFound(std::string_view address) override {
        if (output_ != nullptr) {
            output_->add(address);
        }
        progress_.addressFound();
    }
    bool wantsOccurrences() override { return report_ != nullptr; }
    void sourceStarted(const std::string& name) override { report_->sourceStarted(name); }
    void occurrencesFound(const Occurrence* occurrences, std::size_t count) override {
        report_->add(occurrences, count);
    }
    void fileSkipped(const std::string& path, const std::string& reason) override {
        progress_.message(Complaint(path, reason));
    }

private:
    AddressWriter* output_;
    ProgressLine& progress_;
    AddressReport* report_;
};

// Opens the --report target as -o is opened; false once the reason is on standard error.
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

int RunExtractCommand(const CommandLine& commandLine) {
    const unsigned threads = commandLine.threads == 0 ? AvailableProcessors() : commandLine.threads;
    const InputList expanded = ExpandInputs(commandLine.inputs, commandLine.folderFiles, threads);
    for (const UnreadableInput& folder : expanded.unreadable) {
        Complain(folder.path, folder.reason);
    }
    const std::vector<Input>& inputs = expanded.inputs;

    // Standard output for no -o or "-o -"; otherwise the named file, which OutputFile replaces
    // only once complete or writes in place (a device or FIFO is written through, as ">" does).
    // Opened before the run so the addresses go out as they are found, and so an output that
    // cannot be had is refused before any input is read.
    const std::optional<std::string>& path = commandLine.outputPath;
    const bool toStandardOutput = !path || OutputFile::IsStandardOutputName(*path);
    OutputFile file;
    const bool opened =
        toStandardOutput ? file.openStandardOutput() : file.open(*path, OutputFile::NoReader::Wait);
    if (!opened) {
        Complain(toStandardOutput ? std::string("standard output") : *path, file.error());
        return ExitSomeFailed;
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
    AddressWriter output(commandLine.format, file);
    ProgressLine progress(stderr, ProgressWhen(commandLine), inputs.size());
    StreamingSink sink(opened ? &output : nullptr, progress, report ? &*report : nullptr);

    const SourceOpener openAt = [&inputs](std::size_t i) {
        const Input& input = inputs[i];
        if (input.kind == Input::Kind::StandardInput) {
            return ChunkReader::FromStream(STDIN_FILENO, StandardInputName);
        }
        // A pipe named as a path ("<(zcat logs.gz)") is read as standard input is; a file met
        // in a folder must still be the regular file the walk saw, never a FIFO waited on.
        return ChunkReader(input.path, input.kind == Input::Kind::Path
                                           ? PathKinds::RegularFilesAndPipes
                                           : PathKinds::RegularFiles);
    };
    // Regular files only, and never waiting; the rest is opened at its turn, as is whatever
    // fails here. A FIFO must not even be opened to be refused: a writer waiting for a reader
    // would take that open for its reader, and what it wrote would go when it closed. Folder
    // entries were regular files when the walk listed them; a named path is looked at first.
    const AheadOpener openAhead = [&inputs](std::size_t i) -> std::optional<ChunkReader> {
        const Input& input = inputs[i];
        if (input.kind == Input::Kind::StandardInput ||
            (input.kind == Input::Kind::Path && !IsRegularFile(input.path))) {
            return std::nullopt;
        }
        if (ChunkReader reader(input.path); reader.ok()) {
            return reader;
        }
        return std::nullopt;
    };
    RunResult result;
    try {
        result = threads == 1 ? RunExtractionFrom(inputs.size(), openAt, sink, commandLine.loneLf)
                              : RunExtractionInParallel(inputs.size(), openAt, sink, threads,
                                                        commandLine.loneLf, openAhead);
    } catch (const std::exception& error) {
        // Memory ran out, or the set of addresses reached a size it cannot pass: the output
        // would lack addresses, so an -o file is left as it was.
        file.discard();
        reportFile.discard();
        progress.finish();
        std::fprintf(stderr, "orlenta-extract: %s\n", FailureReason(error).c_str());
        return ExitSomeFailed;
    }
    progress.finish();

    const bool written = opened && output.finish();
    if (!written) {
        Complain(toStandardOutput ? std::string("standard output") : *path, file.error());
    }
    bool reported = true;
    if (report) {
        const std::string& reportPath = *commandLine.reportPath;
        reported =
            WriteReport(*report, ReportFormatFor(reportPath), reportFile) && reportFile.commit();
        if (!reported) {
            reportFile.discard();
            Complain(OutputFile::IsStandardOutputName(reportPath) ? std::string("standard output")
                                                                  : reportPath,
                     reportFile.error());
        }
    }
    return result.skipped.empty() && expanded.unreadable.empty() && written && reported
               ? ExitOk
               : ExitSomeFailed;
}

}  // namespace orlenta
