#pragma once

#include <string>
#include <string_view>

namespace orlenta {

// True for the 27 punctuation characters that stripping turns into spaces: every printable
// ASCII punctuation character except "+", "-", ".", "@" and "_".
bool IsReplacedPunctuation(unsigned char c);

// The text with each of those 27 characters replaced by one space; the length is unchanged.
// Example: "<mailto:ann@x.org>," gives " mailto ann@x.org  ".
std::string StripPunctuation(std::string_view text);

}  // namespace orlenta
