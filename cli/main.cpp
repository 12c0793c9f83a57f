// orlenta-extract: the extraction engine for scripts and measurements.
#include "cli/command_line.h"
#include "cli/extract_command.h"
#include "cli/merge_command.h"
#include "cli/output_targets.h"
#include "cli/standard_streams.h"
#include "engine/temporary_files.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

int Run(int argc, char* argv[]) {
    using namespace orlenta;
    RemoveTemporaryFilesOnSignals();
    // An output that reaches the file size limit (ulimit -f) is a write that failed, "File too
    // large", named and answered with status 1 like a full disk, not a death by SIGXFSZ.
    std::signal(SIGXFSZ, SIG_IGN);
    const ParsedCommandLine parsed =
        ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "orlenta-extract: %s\n%s\n", parsed.error.c_str(),
                     UsageLine().c_str());
        return ExitUsage;
    }
    const CommandLine::Action action = parsed.commandLine.action;
    if (action == CommandLine::Action::Extract || action == CommandLine::Action::Merge) {
        const std::string clash = FindOutputClash(parsed.commandLine);
        if (!clash.empty()) {
            std::fprintf(stderr, "orlenta-extract: %s\n%s\n", clash.c_str(), UsageLine().c_str());
            return ExitUsage;
        }
    }
    switch (action) {
        case CommandLine::Action::ShowHelp:
            std::fputs(HelpText().c_str(), stdout);
            return ExitOk;
        case CommandLine::Action::ShowVersion:
            std::printf("orlenta-extract %s\n", ORLENTA_VERSION);
            return ExitOk;
        case CommandLine::Action::Merge:
            return RunMergeCommand(parsed.commandLine);
        case CommandLine::Action::Extract:
            break;
    }
    return RunExtractCommand(parsed.commandLine);
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace orlenta;
    if (!ReserveStandardDescriptors()) {
        return ExitSomeFailed;
    }
    int status = ExitSomeFailed;
    try {
        status = Run(argc, argv);
    } catch (const std::exception& error) {
        // The run catches its own; this is for the rest (a folder of too many names).
        std::fprintf(stderr, "orlenta-extract: %s\n", FailureReason(error).c_str());
    }
    return CloseStandardOutput(status);
}
