#pragma once

#include "cli/command_line.h"

namespace orlenta {

// orlenta-extract --merge [--comma] [-o FILE] [--report FILE] PARTIAL...: joins the partial files
// of the N slices of one run (--slice K/N --partial FILE), given in slice order, into what the one
// run over all the input writes, in either format, and exits with its status (1 when a slice named
// an unreadable source or folder). Before anything is written every partial is checked: its
// format version, that it is whole (header, trailer, length), and that all come from the slices
// 1 to N of one input list with the same options, each once and in order. A partial that fails
// is named with the reason and the merge ends with status 1, an -o file left as it was.
//
// The merge holds no set of addresses: it merges the slices' sorted indexes to learn which
// records an earlier slice holds (a bit per record), then writes the others slice by slice,
// every file read from start to end. The indexes' checksums are checked before anything is
// written, the records' as they are read; on an output written through (standard output, a
// pipe, a device), which cannot be taken back, before anything is written too.
//
// With --report FILE (slices run with --report-columns) it also writes the one run's report,
// after the output (cli/merge_report.h).
int RunMergeCommand(const CommandLine& commandLine);

}  // namespace orlenta
