#include "cli/command_line.h"

namespace orlenta {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The most --memory takes: 1 PiB (1048576G), more than any machine has.
constexpr std::size_t LargestSize = std::size_t{1} << 50;
constexpr std::size_t TooLarge = static_cast<std::size_t>(-1);

// "4096", "64K", "512M", "2G" (K, M and G are 1024, 1024^2 and 1024^3); 0 when it is not a
// size, TooLarge past LargestSize.
std::size_t ParseSize(const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        ++digits;
    }
    if (digits == 0 || text.size() > digits + 1) {
        return 0;
    }
    if (digits > 15) {
        return TooLarge;
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
    if (value > LargestSize >> shift) {
        return TooLarge;
    }
    return value << shift;
}

// "-" names standard output (OutputFile::IsStandardOutputName, kept free of results/ here).
bool OutputIsStandard(const std::string& path) {
    return path == "-";
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
    auto setMemory = [&parsed, &line](const std::string& size) {
        // Less than a megabyte leaves nothing for the set once the buffers are counted.
        const std::size_t bytes = ParseSize(size);
        if (bytes == TooLarge) {
            parsed.error = "--memory " + size + " is more than it can take: 1048576G at most";
        } else if (bytes < (std::size_t{1} << 20)) {
            parsed.error = "--memory needs a size of 1M or more, such as 512M or 2G";
        } else {
            line.memory = bytes;
        }
    };
    auto setSlice = [&parsed, &line](const std::string& text) {
        // K/N, digits only, 1 <= K <= N <= 1000000.
        const std::size_t slash = text.find('/');
        const auto number = [](const std::string& digits) -> unsigned long {
            if (digits.empty() || digits.size() > 7 ||
                digits.find_first_not_of("0123456789") != std::string::npos) {
                return 0;
            }
            return std::stoul(digits);
        };
        const unsigned long index = slash == std::string::npos ? 0 : number(text.substr(0, slash));
        const unsigned long count = slash == std::string::npos ? 0 : number(text.substr(slash + 1));
        if (line.slice) {
            parsed.error = "--slice given more than once";
        } else if (index == 0 || count == 0 || index > count || count > 1000000) {
            parsed.error = "--slice needs K/N, 1 <= K <= N (e.g. --slice 2/3)";
        } else {
            line.slice = SliceChoice{static_cast<unsigned>(index), static_cast<unsigned>(count)};
        }
    };
    auto setPartial = [&parsed, &line](const std::string& path) {
        if (line.partialPath) {
            parsed.error = "--partial given more than once";
        } else if (path.empty()) {
            parsed.error = "--partial needs a file name";
        } else {
            line.partialPath = path;
        }
    };
    bool merge = false;
    bool progressGiven = false;
    bool threadsGiven = false;
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
        } else if (argument == "--unpack") {
            line.unpack = true;
        } else if (argument == "--mail") {
            line.mail = true;
        } else if (argument == "--progress") {
            line.progress = CommandLine::Progress::Always;
            progressGiven = true;
        } else if (argument == "--merge") {
            merge = true;
        } else if (argument == "--report-columns") {
            line.reportColumns = true;
        } else if (argument == "--slice") {
            if (i + 1 == arguments.size()) {
                parsed.error = "--slice needs K/N, 1 <= K <= N (e.g. --slice 2/3)";
            } else {
                setSlice(arguments[++i]);
            }
        } else if (StartsWith(argument, "--slice=")) {
            setSlice(argument.substr(8));
        } else if (argument == "--partial") {
            if (i + 1 == arguments.size()) {
                parsed.error = "--partial needs a file name";
            } else {
                setPartial(arguments[++i]);
            }
        } else if (StartsWith(argument, "--partial=")) {
            setPartial(argument.substr(10));
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
            threadsGiven = true;
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
            threadsGiven = true;
        } else if (StartsWith(argument, "-j")) {
            setThreads(argument.substr(2));
            threadsGiven = true;
        } else if (StartsWith(argument, "--output=")) {
            setOutput(argument.substr(9));
        } else if (StartsWith(argument, "-o")) {
            setOutput(argument.substr(2));
        } else {
            parsed.error = "unknown option '" + argument + "'";
        }
    }
    if (!parsed.error.empty()) {
        return parsed;
    }
    if (merge) {
        // The slices read the input; the merge only joins what they found.
        line.action = CommandLine::Action::Merge;
        if (line.slice || line.partialPath || line.folderFiles == FolderFiles::All ||
            line.loneLf == LoneLf::EndsToken || line.unpack || line.mail || line.reportColumns ||
            progressGiven || threadsGiven) {
            parsed.error =
                "--merge takes only -o, --comma and --report (the slices' options are in their "
                "partial files)";
        } else if (line.inputs.empty()) {
            parsed.error = "--merge needs the partial files, in slice order";
        }
        return parsed;
    }
    if (line.reportPath && (line.slice || line.partialPath)) {
        // A slice's own counts and first places are not the run's: the merge sums them.
        parsed.error =
            "--report cannot go with --slice or --partial: give the slices --report-columns "
            "and --merge --report FILE";
    } else if (line.reportColumns && !line.partialPath) {
        parsed.error = "--report-columns needs --partial FILE, which carries them";
    } else if (line.inputs.empty()) {
        parsed.error = "no input files";
    } else if (line.partialPath && line.outputPath && OutputIsStandard(*line.partialPath) &&
               OutputIsStandard(*line.outputPath)) {
        parsed.error = "--partial and -o cannot both be standard output";
    }
    return parsed;
}

std::string UsageLine() {
    return "usage: orlenta-extract [--comma] [--all] [--lf] [--unpack] [--mail] [--progress] "
           "[-j N] [--memory SIZE] [-o FILE] [--report FILE] PATH...";
}

namespace {

std::string MoreUsage() {
    return "       orlenta-extract [options] --slice K/N [--partial FILE [--report-columns]] "
           "PATH...\n"
           "       orlenta-extract --merge [--comma] [-o FILE] [--report FILE] PARTIAL...\n";
}

}  // namespace

std::string HelpText() {
    return UsageLine() + "\n" + MoreUsage() +
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
           "  --unpack     read compressed files (gzip, bzip2, xz, zstd, lz4) unpacked and\n"
           "               archives (zip, tar, 7z, cpio, ar, rar) member by member, also\n"
           "               inside one another; each is recognised by its content, and a\n"
           "               member is named ARCHIVE:MEMBER in messages. A folder then also\n"
           "               gives the compressed files and archives it holds, whatever\n"
           "               their names. Encrypted or damaged members are named and the\n"
           "               rest still read\n"
           "  --mail       read a mail or an mbox spool (Thunderbird's folders, .eml files)\n"
           "               as a mail client shows it: encoded-word headers and quoted-\n"
           "               printable or base64 text parts decoded, attachments as they\n"
           "               are; other files as always; a lone LF ends a token; a folder\n"
           "               also gives its files that are mails, whatever their names;\n"
           "               with --unpack, members of archives are decoded too\n"
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
           "  --report FILE  also write one row per address, in the output's order: the\n"
           "               address, its occurrences in any case, the number of sources it\n"
           "               occurs in, the first of them and the byte offset of its first\n"
           "               occurrence there; CSV with a header row, or JSON Lines when\n"
           "               FILE ends in .jsonl; written as -o writes (\"-\" is standard\n"
           "               output when the addresses go elsewhere)\n"
           "  -            read standard input (as one more file)\n"
           "\n"
           "One run can be shared out, over machines too: the same command with --slice\n"
           "K/N for K = 1 to N, then --merge of their partial files in slice order writes\n"
           "exactly what the one run writes, and exits with its status.\n"
           "  --slice K/N  read only the K-th of N slices of the input list (cut by size;\n"
           "               a large file inside, at multiples of 120000 bytes); standard\n"
           "               input and pipes cannot be sliced (status 2)\n"
           "  --partial FILE  write the slice's result to FILE for --merge (without\n"
           "               --slice: all of the input as its one slice); no addresses go\n"
           "               to standard output then unless -o asks for them\n"
           "  --report-columns  with --partial: also keep in FILE each address's counts and\n"
           "               first place, for --merge --report (the slice tallies every\n"
           "               occurrence, as --report does)\n"
           "  --merge      join the partial files given, in slice order, into the output\n"
           "               of one run; a partial of another version, input list or\n"
           "               options, truncated, corrupt, missing or out of order is\n"
           "               refused (status 1, -o untouched)\n"
           "  --merge --report FILE  also write the report the one run writes; the\n"
           "               slices must have been made with --report-columns\n"
           "  --help       show this text\n"
           "  --version    show the version\n"
           "\n"
           "Paths and folders that cannot be read are named on standard error and the others\n"
           "are still read; the exit status is then 1. Usage errors exit with 2.\n";
}

}  // namespace orlenta
