#pragma once

#include <string>
#include <vector>

namespace orlenta {

// One source of a command-line run: a path, or standard input (written "-").
struct Input {
    enum class Kind { Path, StandardInput };

    Kind kind = Kind::Path;
    std::string path;  // for Kind::Path

    bool operator==(const Input& other) const { return kind == other.kind && path == other.path; }
};

// The sources named on the command line, in the order they are read. Each argument stands
// for itself for now: a folder is passed on as a path, and the reader reports it as not a
// file. This is the one place to change when arguments come to stand for several files.
std::vector<Input> ExpandInputs(const std::vector<std::string>& arguments);

// How messages name standard input.
inline constexpr const char* StandardInputName = "(standard input)";

}  // namespace orlenta
