#pragma once

// One-line descriptions of where the engine's answer differs from the reference's, for the
// fuzzer's crash message and the replay test's failure. Each returns an empty string when
// there is no difference.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta::fuzz {

using Strings = std::vector<std::string>;

// The bytes in double quotes, readable in one line: printable ASCII as it is, the rest as
// \xNN, cut after a hundred bytes. Example: "a\x00b".
std::string Quoted(std::string_view bytes);

// "what: 3, expected 2".
std::string CompareCounts(const std::string& what, std::size_t expected, std::size_t got);

// The first chunk and byte that differ, or the counts when one list is longer.
std::string CompareChunks(const std::string& what, const Strings& expected, const Strings& got);

// The first item that differs, both lists' lengths, the items quoted.
std::string CompareLists(const std::string& what, const Strings& expected, const Strings& got);

}  // namespace orlenta::fuzz
