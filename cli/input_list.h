#pragma once

#include "engine/chunk_reader.h"

#include <string>
#include <vector>

namespace orlenta {

// One source of a command-line run: a path (the bytes, as open() takes them), or standard
// input (written "-"). A path named on the command line may be a pipe or FIFO, read as a
// stream; a file met in a folder must be a regular file: the walk saw one, and whatever has
// taken its place since is refused, never waited for.
struct Input {
    enum class Kind { Path, FolderEntry, StandardInput };

    Kind kind = Kind::Path;
    std::string path;   // for Path and FolderEntry
    ByteRange range{};  // the part read (--slice); whole by default

    bool operator==(const Input& other) const {
        return kind == other.kind && path == other.path && range == other.range;
    }
};

// Which files of a folder argument are read: by default those whose names contain ".htm",
// ".html" or ".txt" (the kinds "Add All File(s) In Folder" adds without asking); with --all
// every file. Names beginning with "~" never are.
enum class FolderFiles { ExpectedKinds, All };

// A folder met while expanding the arguments that could not be read, with the reason.
struct UnreadableInput {
    std::string path;
    std::string reason;
};

struct InputList {
    std::vector<Input> inputs;  // in the order they are read
    std::vector<UnreadableInput> unreadable;
};

// The sources named on the command line, in the order they are read. A folder stands for its
// files and those of all its subfolders, walked as "Add All File(s) In Folder" walks it (level
// by level, each folder in name order, hidden folders skipped, "~" names passed over), its
// files joined to the folder as given ("mail/" and "mail" both give "mail/a.txt"). Any other
// argument stands for itself: a missing path is passed on, and the reader reports it.
// `threads` above 1 lets a second thread list a folder argument's own files while the walk
// looks for its subfolders; the list is the same.
InputList ExpandInputs(const std::vector<std::string>& arguments,
                       FolderFiles folderFiles = FolderFiles::ExpectedKinds, unsigned threads = 1);

// How messages name standard input.
inline constexpr const char* StandardInputName = "(standard input)";

}  // namespace orlenta
