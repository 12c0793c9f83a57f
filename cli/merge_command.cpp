#include "cli/merge_command.h"

#include "cli/escaped_name.h"
#include "cli/extract_command.h"
#include "engine/seen_emails.h"
#include "results/address_writer.h"
#include "results/output_file.h"
#include "results/partial_reader.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orlenta {

namespace {

void Complain(const std::string& name, const std::string& reason) {
    std::fprintf(stderr, "orlenta-extract: %s: %s\n", EscapedName(name).c_str(), reason.c_str());
}

std::string SliceName(const PartialHeader& header) {
    return std::to_string(header.sliceIndex) + "/" + std::to_string(header.sliceCount);
}

// The addresses of the earlier slices, compared without regard to case. The one place that
// says which set the merge keeps.
class EarlierSlices final {
public:
    // isNew[i]: addresses[i] is in no earlier slice (each slice's own are distinct already).
    void markNew(const std::vector<std::string_view>& addresses, std::vector<char>& isNew) {
        isNew.resize(addresses.size());
        seen_.InsertLowerCased(addresses.data(), addresses.size(),
                               reinterpret_cast<bool*>(isNew.data()));
    }

private:
    SeenEmails seen_;
};

// Checks the partials' headers and trailers against one another; the counts of the whole run,
// or nullopt once a partial is named with what is wrong with it.
std::optional<PartialCounts> CheckPartials(const std::vector<std::string>& paths) {
    PartialCounts total;
    PartialHeader first;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        PartialReader partial;
        if (!partial.open(paths[i])) {
            Complain(paths[i], partial.error());
            return std::nullopt;
        }
        const PartialHeader& header = partial.header();
        if (i == 0) {
            first = header;
        }
        std::string wrong;
        if (header.sliceIndex == 0 || header.sliceIndex > header.sliceCount) {
            wrong = "corrupt: slice " + SliceName(header);
        } else if (header.programVersion != first.programVersion) {
            wrong = "written by orlenta-extract " + header.programVersion + ", " + paths[0] +
                    " by " + first.programVersion + ": slices of one run come from one version";
        } else if (header.sliceCount != first.sliceCount) {
            wrong = "slice " + SliceName(header) + " of a run cut in " +
                    std::to_string(header.sliceCount) + ", not " +
                    std::to_string(first.sliceCount) + " as " + paths[0];
        } else if (header.options != first.options) {
            wrong = "made with other options (--lf, --all) than " + paths[0];
        } else if (header.inputFingerprint != first.inputFingerprint) {
            wrong = "made from another input list (names, sizes or folders) than " + paths[0];
        } else if (header.sliceIndex != i + 1) {
            wrong = "holds slice " + SliceName(header) + " where slice " + std::to_string(i + 1) +
                    "/" + std::to_string(header.sliceCount) +
                    " belongs: give the partials in slice order, each once";
        }
        if (!wrong.empty()) {
            Complain(paths[i], wrong);
            return std::nullopt;
        }
        const PartialCounts& counts = partial.counts();
        total.sources += counts.sources;
        total.sourcesRead += counts.sourcesRead;
        total.skipped += counts.skipped;
        total.foldersUnreadable = std::max(total.foldersUnreadable, counts.foldersUnreadable);
        total.records += counts.records;
    }
    if (paths.size() != first.sliceCount) {
        std::fprintf(stderr,
                     "orlenta-extract: --merge: %zu of %u slices given; slice %zu/%u is missing\n",
                     paths.size(), first.sliceCount, paths.size() + 1, first.sliceCount);
        return std::nullopt;
    }
    return total;
}

// Reads every record of every partial for its checksum, writing nothing.
bool VerifyPartials(const std::vector<std::string>& paths) {
    std::vector<std::string_view> batch;
    for (const std::string& path : paths) {
        PartialReader partial;
        if (!partial.open(path)) {
            Complain(path, partial.error());
            return false;
        }
        while (partial.next(batch)) {
        }
        if (partial.failed()) {
            Complain(path, partial.error());
            return false;
        }
    }
    return true;
}

// The addresses of the partials in order, each but its first spelling dropped; false once a
// partial is named as failing.
bool MergeInto(const std::vector<std::string>& paths, AddressWriter& output) {
    EarlierSlices earlier;
    std::vector<std::string_view> batch;
    std::vector<char> isNew;
    for (const std::string& path : paths) {
        PartialReader partial;
        if (!partial.open(path)) {
            Complain(path, partial.error());
            return false;
        }
        while (partial.next(batch)) {
            earlier.markNew(batch, isNew);
            for (std::size_t i = 0; i < batch.size(); ++i) {
                if (isNew[i]) {
                    output.add(batch[i]);
                }
            }
        }
        if (partial.failed()) {
            Complain(path, partial.error());
            return false;
        }
    }
    return true;
}

}  // namespace

int RunMergeCommand(const CommandLine& commandLine) {
    const std::vector<std::string>& paths = commandLine.inputs;
    const std::optional<PartialCounts> total = CheckPartials(paths);
    if (!total) {
        return ExitSomeFailed;
    }
    const std::optional<std::string>& path = commandLine.outputPath;
    const bool toStandardOutput = !path || OutputFile::IsStandardOutputName(*path);
    const std::string outputName = toStandardOutput ? std::string("standard output") : *path;
    OutputFile file;
    const bool opened =
        toStandardOutput ? file.openStandardOutput() : file.open(*path, OutputFile::NoReader::Wait);
    if (!opened) {
        Complain(outputName, file.error());
        return ExitSomeFailed;
    }
    // What goes through cannot be taken back: every checksum first. A file held until commit
    // is checked as it is read, and dropped if a partial fails.
    if (file.way() == OutputFile::Way::Through && !VerifyPartials(paths)) {
        file.discard();
        return ExitSomeFailed;
    }
    AddressWriter output(commandLine.format, file);
    try {
        if (!MergeInto(paths, output)) {
            file.discard();
            return ExitSomeFailed;
        }
    } catch (const std::exception& error) {
        file.discard();
        std::fprintf(stderr, "orlenta-extract: %s\n", FailureReason(error).c_str());
        return ExitSomeFailed;
    }
    if (!output.finish()) {
        Complain(outputName, file.error());
        return ExitSomeFailed;
    }
    return total->skipped == 0 && total->foldersUnreadable == 0 ? ExitOk : ExitSomeFailed;
}

}  // namespace orlenta
