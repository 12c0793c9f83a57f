#include "extract_command.h"

#include "extraction_run.h"
#include "input_list.h"
#include "output_file.h"
#include "progress_line.h"
#include "result_writers.h"

#include <unistd.h>

#include <cstdio>

namespace orlenta {

namespace {

std::string Complaint(const std::string& name, const std::string& reason) {
    return "orlenta-extract: " + name + ": " + reason;
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

// Formats every new address as it comes, straight into the output's bytes (no string per
// address), names each unreadable source at once and keeps the progress line going.
class CollectingSink final : public RunSink {
public:
    CollectingSink(ResultFormat format, ProgressLine& progress)
        : output(format), progress_(progress) {}

    bool yield(YieldPoint point) override {
        if (point == YieldPoint::BeforeFile) {
            progress_.fileStarted();
        }
        return true;
    }
    void chunkRead(std::size_t size) override { progress_.bytesRead(size); }
    void addressFound(std::string_view address) override {
        output.add(address);
        progress_.addressFound();
    }
    void fileSkipped(const std::string& path, const std::string& reason) override {
        progress_.message(Complaint(path, reason));
    }

    ResultAppender output;

private:
    ProgressLine& progress_;
};

// Standard output for no -o or "-o -"; otherwise the named file, which OutputFile replaces
// only once complete (a device or FIFO is written through, as ">" does).
bool WriteOutput(const std::optional<std::string>& path, const std::string& bytes) {
    const bool toStandardOutput = !path || OutputFile::IsStandardOutputName(*path);
    OutputFile output;
    const bool opened = toStandardOutput ? output.openStandardOutput()
                                         : output.open(*path, OutputFile::NoReader::Wait);
    if (opened && output.write(bytes) && output.commit()) {
        return true;
    }
    Complain(toStandardOutput ? std::string("standard output") : *path, output.error());
    return false;
}

}  // namespace

int RunExtractCommand(const CommandLine& commandLine) {
    const InputList expanded = ExpandInputs(commandLine.inputs, commandLine.folderFiles);
    for (const UnreadableInput& folder : expanded.unreadable) {
        Complain(folder.path, folder.reason);
    }
    const std::vector<Input>& inputs = expanded.inputs;
    ProgressLine progress(stderr, ProgressWhen(commandLine), inputs.size());
    CollectingSink sink(commandLine.format, progress);
    const RunResult result = RunExtractionFrom(
        inputs.size(),
        [&inputs](std::size_t i) {
            const Input& input = inputs[i];
            // A pipe named as a path ("<(zcat logs.gz)") is read as standard input is.
            return input.kind == Input::Kind::StandardInput
                       ? ChunkReader::FromStream(STDIN_FILENO, StandardInputName)
                       : ChunkReader(input.path, PathKinds::RegularFilesAndPipes);
        },
        sink, commandLine.loneLf);
    progress.finish();

    const bool written = WriteOutput(commandLine.outputPath, sink.output.finish());
    return result.skipped.empty() && expanded.unreadable.empty() && written ? ExitOk
                                                                            : ExitSomeFailed;
}

}  // namespace orlenta
