#pragma once

#include "cli/input_list.h"
#include "cli/slice_plan.h"
#include "engine/chunk_scanner.h"
#include "results/result_writers.h"

#include <optional>
#include <string>
#include <vector>

namespace orlenta {

// What `orlenta-extract [options] PATH...` (see UsageLine) with --slice K/N and --partial FILE
// or not, or `orlenta-extract --merge [--comma] [-o FILE] PARTIAL...` was asked to do.
struct CommandLine {
    enum class Action { Extract, Merge, ShowHelp, ShowVersion };
    // When the progress line is shown on standard error: by default only when it is a
    // terminal and the run has taken more than a second; with --progress from the start.
    enum class Progress { WhenSlowOnTerminal, Always };

    Action action = Action::Extract;
    ResultFormat format = ResultFormat::List;
    std::optional<std::string> outputPath;   // -o FILE; standard output when absent
    std::vector<std::string> inputs;         // in the order given; "-" is standard input
                                             // (Merge: the partial files, in slice order)
    std::optional<SliceChoice> slice;        // --slice K/N: only the K-th of N slices is read
    std::optional<std::string> partialPath;  // --partial FILE: the slice's mergeable result
    std::optional<std::string> reportPath;   // --report FILE: a row per address, where it was
    bool reportColumns =
        false;  // --report-columns: the partial carries what --merge --report needs
    FolderFiles folderFiles = FolderFiles::ExpectedKinds;  // --all: every file of a folder
    LoneLf loneLf = LoneLf::Ordinary;                      // --lf: a lone LF ends a token
    bool unpack = false;  // --unpack: compressed files and archives read unpacked
    bool mail = false;    // --mail: mails and mbox spools read decoded, as a mail client shows them
    Progress progress = Progress::WhenSlowOnTerminal;  // --progress: always shown
    unsigned threads = 0;  // -j N; 0: as many as the processors available, 1: one thread
    // --memory SIZE in bytes: what the set of addresses may take before the rest goes through
    // temporary files; 0: half of the physical memory.
    std::size_t memory = 0;
};

// A parsed command line, or the reason it is not one (then `error` is not empty).
struct ParsedCommandLine {
    CommandLine commandLine;
    std::string error;
};

// Parses the arguments that follow the program name. Options may stand anywhere; "--" ends
// them, so "-- -x" names a file "-x". Both "-o FILE" and "-oFILE" are understood, and so are
// "--output FILE" and "--output=FILE", "--report FILE" and "--report=FILE". "--help" and
// "--version" win over everything else.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// "usage: orlenta-extract [--comma] [--all] [--lf] [--unpack] [--mail] [--progress] [-j N]
// [--memory SIZE] [-o FILE] [--report FILE] PATH..." and the forms with --slice and --merge.
std::string UsageLine();

// The usage line and a short description of the tool and its options.
std::string HelpText();

}  // namespace orlenta
