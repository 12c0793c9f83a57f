#pragma once

#include "cli/command_line.h"

namespace orlenta {

// Exit statuses of orlenta-extract.
enum ExitStatus : int {
    ExitOk = 0,
    ExitSomeFailed = 1,  // a source could not be read, or the output could not be written
    ExitUsage = 2,
};

// Runs the extraction the command line asks for: reads the sources in order (standard input
// for "-", the files of a folder for a folder), names each unreadable one on standard error as
// "orlenta-extract: PATH: REASON" (folders that could not be walked first), and writes the
// addresses as they are found to standard output or, all or nothing, to the -o file. With
// more than one thread the output is byte for byte that of one thread.
int RunExtractCommand(const CommandLine& commandLine);

}  // namespace orlenta
