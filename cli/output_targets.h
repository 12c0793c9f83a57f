#pragma once

#include "cli/command_line.h"

#include <string>

namespace orlenta {

// Refuses, before anything is read or written, a command whose outputs would overwrite one
// another or an input it was given: one file named for two outputs (-o t.txt --report ./t.txt,
// a hard link of it, /dev/stdout while the addresses go to standard output), or a report, a
// partial or a merge's output that is a file named as an input (a partial, for --merge). Such
// a command would lose one of them and still end well. Files are compared by device and inode,
// links followed; a name not there yet by its folder and last name. Character devices
// (/dev/null, a terminal) may take several outputs. A list written over one of its own inputs
// stays allowed: the input is read whole before it is replaced, as `sort -o` does.
// The complaint, or "" when every output is a file of its own.
std::string FindOutputClash(const CommandLine& commandLine);

}  // namespace orlenta
