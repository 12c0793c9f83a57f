#pragma once

#include "cli/command_line.h"

#include <exception>
#include <string>

namespace orlenta {

// Exit statuses of orlenta-extract.
enum ExitStatus : int {
    ExitOk = 0,
    ExitSomeFailed = 1,  // a source could not be read, the output could not be written, or
                         // memory ran out
    ExitUsage = 2,
};

// Runs the extraction the command line asks for: reads the sources in order (standard input
// for "-", the files of a folder for a folder), names each unreadable one on standard error as
// "orlenta-extract: PATH: REASON" (folders that could not be walked first), and writes the
// addresses as they are found to standard output or, all or nothing, to the -o file. With
// more than one thread the output is byte for byte that of one thread. Names in messages are
// escaped (EscapedName). A run that runs out of memory (std::bad_alloc, std::length_error)
// ends with "orlenta-extract: out of memory" and exit 1, an -o file left as it was.
int RunExtractCommand(const CommandLine& commandLine);

// What a run ended by `error` says after "orlenta-extract: ": "out of memory" for
// std::bad_alloc, "out of memory (WHAT)" for std::length_error, otherwise its what().
std::string FailureReason(const std::exception& error);

class OutputFile;

// An output's name as messages show it: "standard output" for "-" (no -o is "-" too).
std::string ShownOutputName(const std::string& path);

// Opens the --report target as -o is opened ("-" is standard output, refused when the
// addresses go there); false once the reason is on standard error.
bool OpenReport(const std::string& path, bool outputToStandardOutput, OutputFile& file);

}  // namespace orlenta
