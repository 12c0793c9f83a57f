#include "extract_command.h"

#include "extraction_run.h"
#include "input_list.h"
#include "result_writers.h"

#include <QFile>

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

bool WriteToStandardOutput(const std::string& bytes) {
    QFile output;
    QString error;
    // Unbuffered: the bytes are formatted as one block and handed to the system in one go.
    if (!output.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered,
                     QFileDevice::DontCloseHandle) ||
        !WriteFormatted(output, bytes, &error)) {
        Complain("standard output", (error.isEmpty() ? output.errorString() : error).toStdString());
        return false;
    }
    return true;
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

    const std::string bytes = sink.output.finish();
    bool written = true;
    if (commandLine.outputPath) {
        QString error;
        written = SaveFormatted(QFile::decodeName(commandLine.outputPath->c_str()), bytes, &error);
        if (!written) {
            Complain(*commandLine.outputPath, error.toStdString());
        }
    } else {
        written = WriteToStandardOutput(bytes);
    }
    return result.skipped.empty() && expanded.unreadable.empty() && written ? ExitOk
                                                                            : ExitSomeFailed;
}

}  // namespace orlenta
