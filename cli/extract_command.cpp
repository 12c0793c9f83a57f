#include "extract_command.h"

#include "extraction_run.h"
#include "input_list.h"
#include "output_file.h"
#include "result_writers.h"

#include <unistd.h>

#include <cstdio>

namespace orlenta {

namespace {

void Complain(const std::string& name, const std::string& reason) {
    std::fprintf(stderr, "orlenta-extract: %s: %s\n", name.c_str(), reason.c_str());
}

// Formats every new address as it comes, straight into the output's bytes (no string per
// address), and names each unreadable source at once.
class CollectingSink final : public RunSink {
public:
    explicit CollectingSink(ResultFormat format) : output(format) {}

    void addressFound(std::string_view address) override { output.add(address); }
    void fileSkipped(const std::string& path, const std::string& reason) override {
        Complain(path, reason);
    }

    ResultAppender output;
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
    CollectingSink sink(commandLine.format);
    const RunResult result = RunExtractionFrom(
        inputs.size(),
        [&inputs](std::size_t i) {
            const Input& input = inputs[i];
            return input.kind == Input::Kind::StandardInput
                       ? ChunkReader::FromStream(STDIN_FILENO, StandardInputName)
                       : ChunkReader(input.path);
        },
        sink);

    const bool written = WriteOutput(commandLine.outputPath, sink.output.finish());
    return result.skipped.empty() && expanded.unreadable.empty() && written ? ExitOk
                                                                            : ExitSomeFailed;
}

}  // namespace orlenta
