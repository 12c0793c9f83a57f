#pragma once

#include <string_view>
#include <vector>

namespace orlenta {

// Cuts text at CR LF, tab, CR and space (in that order) and keeps, in text order, the tokens
// that hold both "@" and ".". A lone LF is an ordinary character, so "a@b.cc\nc@d.ee" is one
// token. The views point into `text`.
std::vector<std::string_view> SplitCandidates(std::string_view text);

}  // namespace orlenta
