#include "cli/command_line.h"

namespace orlenta {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// "4096", "64K", "512M", "2G" (K, M and G are 1024, 1024^2 and 1024^3); 0 when it is not a
// size or is too large.
std::size_t ParseSize(const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        ++digits;
    }
    if (digits == 0 || digits > 15 || text.size() > digits + 1) {
        return 0;
    }
    std::size_t value = std::stoull(text.substr(0, digits));
    unsigned shift = 0;
    if (text.size() == digits + 1) {
        switch (text[digits]) {
            case 'K':
            case 'k':
                shift = 10;
                break;
            case 'M':
            case 'm':
                shift = 20;
                break;
            case 'G':
            case 'g':
                shift = 30;
                break;
            default:
                return 0;
        }
    }
    if (value > (std::size_t{1} << 50) >> shift) {
        return 0;
    }
    return value << shift;
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
    auto setMemory = [&parsed, &line](const std::string& size) {
        // Less than a megabyte leaves nothing for the set once the buffers are counted.
        const std::size_t bytes = ParseSize(size);
        if (bytes < (std::size_t{1} << 20)) {
            parsed.error = "--memory needs a size of 1M or more, such as 512M or 2G";
        } else {
            line.memory = bytes;
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
        } else if (argument == "-j" || argument == "--jobs") {
            if (i + 1 == arguments.size()) {
                parsed.error = "-j needs a number of threads, 1 or more";
            } else {
                setThreads(arguments[++i]);
            }
        } else if (argument == "--memory") {
            if (i + 1 == arguments.size()) {
                parsed.error = "--memory needs a size of 1M or more, such as 512M or 2G";
            } else {
                setMemory(arguments[++i]);
            }
        } else if (StartsWith(argument, "--memory=")) {
            setMemory(argument.substr(9));
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
    return "usage: orlenta-extract [--comma] [--all] [--lf] [--progress] [-j N] [--memory SIZE] "
           "[-o FILE] PATH...";
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
           "  --memory SIZE  keep the set of addresses within SIZE bytes (suffixes K, M, G;\n"
           "               default: half of the physical memory); past it the rest is\n"
           "               sorted out in temporary files in $TMPDIR (default /tmp), and\n"
           "               the output is the same\n"
           "  -o FILE      write to FILE instead of standard output (\"-\" is standard\n"
           "               output); a regular FILE gets the output only once it is\n"
           "               complete and keeps its owner, mode, links and attributes; a\n"
           "               device, FIFO or /dev/stdout is written to\n"
           "  -            read standard input (as one more file)\n"
           "  --help       show this text\n"
           "  --version    show the version\n"
           "\n"
           "Paths and folders that cannot be read are named on standard error and the others\n"
           "are still read; the exit status is then 1. Usage errors exit with 2.\n";
}

}  // namespace orlenta
