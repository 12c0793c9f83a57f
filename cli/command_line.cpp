#include "cli/command_line.h"

namespace orlenta {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    ParsedCommandLine parsed;
    CommandLine& line = parsed.commandLine;

    // --help and --version win wherever they stand before "--", even after a mistake.
    for (const std::string& argument : arguments) {
        if (argument == "--") {
            break;
        }
        if (argument == "--help" || argument == "-h") {
            line.action = CommandLine::Action::ShowHelp;
            return parsed;
        }
        if (argument == "--version") {
            line.action = CommandLine::Action::ShowVersion;
            return parsed;
        }
    }

    auto setOutput = [&parsed, &line](const std::string& path) {
        if (line.outputPath) {
            parsed.error = "-o given more than once";
        } else if (path.empty()) {
            parsed.error = "-o needs a file name";
        } else {
            line.outputPath = path;
        }
    };
    auto setReport = [&parsed, &line](const std::string& path) {
        if (line.reportPath) {
            parsed.error = "--report given more than once";
        } else if (path.empty()) {
            parsed.error = "--report needs a file name";
        } else {
            line.reportPath = path;
        }
    };
    auto setThreads = [&parsed, &line](const std::string& count) {
        unsigned long value = 0;
        const bool digits = !count.empty() && count.size() <= 6 &&
                            count.find_first_not_of("0123456789") == std::string::npos;
        if (digits) {
            value = std::stoul(count);
        }
        if (!digits || value == 0) {
            parsed.error = "-j needs a number of threads, 1 or more";
        } else {
            line.threads = static_cast<unsigned>(value);
        }
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size() && parsed.error.empty(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument == "-" || !StartsWith(argument, "-")) {
            line.inputs.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--comma") {
            line.format = ResultFormat::CommaDelimited;
        } else if (argument == "--all") {
            line.folderFiles = FolderFiles::All;
        } else if (argument == "--lf") {
            line.loneLf = LoneLf::EndsToken;
        } else if (argument == "--progress") {
            line.progress = CommandLine::Progress::Always;
        } else if (argument == "-o" || argument == "--output") {
            if (i + 1 == arguments.size()) {
                parsed.error = "-o needs a file name";
            } else {
                setOutput(arguments[++i]);
            }
        } else if (argument == "--report") {
            if (i + 1 == arguments.size()) {
                parsed.error = "--report needs a file name";
            } else {
                setReport(arguments[++i]);
            }
        } else if (StartsWith(argument, "--report=")) {
            setReport(argument.substr(9));
        } else if (argument == "-j" || argument == "--jobs") {
            if (i + 1 == arguments.size()) {
                parsed.error = "-j needs a number of threads, 1 or more";
            } else {
                setThreads(arguments[++i]);
            }
        } else if (StartsWith(argument, "--jobs=")) {
            setThreads(argument.substr(7));
        } else if (StartsWith(argument, "-j")) {
            setThreads(argument.substr(2));
        } else if (StartsWith(argument, "--output=")) {
            setOutput(argument.substr(9));
        } else if (StartsWith(argument, "-o")) {
            setOutput(argument.substr(2));
        } else {
            parsed.error = "unknown option '" + argument + "'";
        }
    }
    if (parsed.error.empty() && line.inputs.empty()) {
        parsed.error = "no input files";
    }
    return parsed;
}

std::string UsageLine() {
    return "usage: orlenta-extract [--comma] [--all] [--lf] [--progress] [-j N] [-o FILE] "
           "[--report FILE] PATH...";
}

std::string HelpText() {
    return UsageLine() +
           "\n"
           "\n"
           "Collects the e-mail addresses in the given files, read in order as single-byte\n"
           "text, drops duplicates compared without regard to case (the first spelling is\n"
           "kept) and writes the distinct addresses, each followed by CR LF.\n"
           "\n"
           "A folder stands for its files and those of its subfolders at any depth, folder by\n"
           "folder, each in name order; hidden folders and names beginning with \"~\" are\n"
           "passed over, and only names containing .htm, .html or .txt are read unless --all\n"
           "is given. A pipe named as a path, such as <(zcat logs.gz), is read like -;\n"
           "devices and sockets are refused.\n"
           "\n"
           "Tokens end at space, tab, CR LF, CR and punctuation other than + - . @ _, as in\n"
           "the window. A lone LF ends one only with --lf: without it, the two lines\n"
           "ann@example.com LF bob@example.org form one token, and neither address is found.\n"
           "\n"
           "  --comma      write all addresses on one line, joined by commas, then CR LF\n"
           "  --all        read every file of a folder, whatever its name\n"
           "  --lf         let a lone LF end a token too, for text with Unix line ends\n"
           "  --progress   show files done, bytes read, addresses found and the rate on\n"
           "               standard error; unasked, shown after a second when standard\n"
           "               error is a terminal that the addresses do not go to\n"
           "  -j N         use N threads (default: one per processor available); the\n"
           "               output is the same for every N\n"
           "  -o FILE      write to FILE instead of standard output (\"-\" is standard\n"
           "               output); a regular FILE gets the output only once it is\n"
           "               complete and keeps its owner, mode, links and attributes; a\n"
           "               device, FIFO or /dev/stdout is written to\n"
           "  --report FILE  also write one row per address, in the output's order: the\n"
           "               address, its occurrences in any case, the number of sources it\n"
           "               occurs in, the first of them and the byte offset of its first\n"
           "               occurrence there; CSV with a header row, or JSON Lines when\n"
           "               FILE ends in .jsonl; written as -o writes (\"-\" is standard\n"
           "               output when the addresses go elsewhere)\n"
           "  -            read standard input (as one more file)\n"
           "  --help       show this text\n"
           "  --version    show the version\n"
           "\n"
           "Paths and folders that cannot be read are named on standard error and the others\n"
           "are still read; the exit status is then 1. Usage errors exit with 2.\n";
}

}  // namespace orlenta
