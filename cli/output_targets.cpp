#include "cli/output_targets.h"

#include "cli/escaped_name.h"
#include "results/file_identity.h"
#include "results/output_file.h"

#include <sys/stat.h>

#include <optional>
#include <vector>

namespace orlenta {

namespace {

// A file as the outputs and inputs are compared: a file there, or a name in a folder.
struct FileKey {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;  // the last name, for a file not there yet
    bool operator==(const FileKey& other) const {
        return device == other.device && inode == other.inode && name == other.name;
    }
};

struct Target {
    std::string option;  // "-o", "--report", "--partial"; "" for the list without -o
    std::string label;   // the option and the name as given, or "standard output"
    FileKey key;
    bool device = false;  // a character device
};

FileKey KeyOf(const struct stat& status) {
    return FileKey{status.st_dev, status.st_ino, {}};
}

// The file a command-line output name stands for; nullopt when it cannot be told (a closed
// standard output, a folder that cannot be reached: opening it will say what is wrong).
std::optional<Target> TargetOf(const std::string& option, const std::string& path) {
    struct stat status {};
    Target target{
        option, option.empty() ? "standard output" : option + " " + EscapedName(path), {}, false};
    if (OutputFile::IsStandardOutputName(path)) {
        if (::fstat(1, &status) != 0) {
            return std::nullopt;
        }
    } else if (::stat(path.c_str(), &status) != 0) {
        struct stat folder {};
        if (::stat(FolderOf(path).c_str(), &folder) != 0) {
            return std::nullopt;
        }
        const std::size_t slash = path.rfind('/');
        target.key = FileKey{folder.st_dev, folder.st_ino,
                             slash == std::string::npos ? path : path.substr(slash + 1)};
        return target;
    }
    target.key = KeyOf(status);
    target.device = S_ISCHR(status.st_mode);
    return target;
}

}  // namespace

std::string FindOutputClash(const CommandLine& commandLine) {
    const bool merge = commandLine.action == CommandLine::Action::Merge;
    std::vector<Target> targets;
    const auto add = [&targets](const std::string& option, const std::string& path) {
        if (std::optional<Target> target = TargetOf(option, path)) {
            targets.push_back(std::move(*target));
        }
    };
    // Without -o, the addresses go to standard output, but for a slice that writes a partial.
    if (commandLine.outputPath || merge || !commandLine.partialPath) {
        if (commandLine.outputPath) {
            add("-o", *commandLine.outputPath);
        } else {
            add("", "-");
        }
    }
    if (commandLine.reportPath) {
        add("--report", *commandLine.reportPath);
    }
    if (commandLine.partialPath) {
        add("--partial", *commandLine.partialPath);
    }
    for (std::size_t i = 0; i < targets.size(); ++i) {
        for (std::size_t j = i + 1; j < targets.size(); ++j) {
            if (!targets[i].device && targets[i].key == targets[j].key) {
                return targets[i].label + " and " + targets[j].label +
                       " are one file: one would lose the other";
            }
        }
    }
    // An input can only be a target that is there already; the list of an extraction may be
    // written over its input.
    std::vector<const Target*> guarded;
    for (const Target& target : targets) {
        const bool list = target.option.empty() || target.option == "-o";
        if (target.key.name.empty() && !target.device && (merge || !list)) {
            guarded.push_back(&target);
        }
    }
    if (guarded.empty()) {
        return {};
    }
    for (const std::string& input : commandLine.inputs) {
        struct stat status {};
        if (input == "-" || ::stat(input.c_str(), &status) != 0) {
            continue;
        }
        for (const Target* target : guarded) {
            if (target->key == KeyOf(status)) {
                return (target->option.empty() ? std::string("standard output") : target->option) +
                       " names " + (merge ? "the partial " : "the input ") + EscapedName(input) +
                       ", which it would replace";
            }
        }
    }
    return {};
}

}  // namespace orlenta
