// orlenta-extract: the extraction engine for scripts and measurements.
#include "cli/command_line.h"
#include "cli/extract_command.h"
#include "engine/temporary_files.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    using namespace orlenta;
    RemoveTemporaryFilesOnSignals();
    const ParsedCommandLine parsed =
        ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "orlenta-extract: %s\n%s\n", parsed.error.c_str(),
                     UsageLine().c_str());
        return ExitUsage;
    }
    switch (parsed.commandLine.action) {
        case CommandLine::Action::ShowHelp:
            std::fputs(HelpText().c_str(), stdout);
            return ExitOk;
        case CommandLine::Action::ShowVersion:
            std::printf("orlenta-extract %s\n", ORLENTA_VERSION);
            return ExitOk;
        case CommandLine::Action::Extract:
            break;
    }
    return RunExtractCommand(parsed.commandLine);
}
