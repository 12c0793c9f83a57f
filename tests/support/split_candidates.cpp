#include "tests/support/split_candidates.h"

namespace orlenta {

namespace {

// Cuts every piece at each occurrence of `separator`, keeping the order (empty pieces too).
std::vector<std::string_view> SplitAll(const std::vector<std::string_view>& pieces,
                                       std::string_view separator) {
    std::vector<std::string_view> result;
    for (std::string_view piece : pieces) {
        std::size_t start = 0;
        for (std::size_t at = piece.find(separator); at != std::string_view::npos;
             at = piece.find(separator, start)) {
            result.push_back(piece.substr(start, at - start));
            start = at + separator.size();
        }
        result.push_back(piece.substr(start));
    }
    return result;
}

bool IsCandidate(std::string_view token) {
    return token.find('@') != std::string_view::npos && token.find('.') != std::string_view::npos;
}

}  // namespace

std::vector<std::string_view> SplitCandidates(std::string_view text) {
    // Literally the four cuts in their order; this is the reference the fast scanner is held
    // to, so it stays as plain as the definition.
    std::vector<std::string_view> pieces{text};
    for (std::string_view separator : {"\r\n", "\t", "\r", " "}) {
        pieces = SplitAll(pieces, separator);
    }
    std::vector<std::string_view> candidates;
    for (std::string_view token : pieces) {
        if (IsCandidate(token)) {
            candidates.push_back(token);
        }
    }
    return candidates;
}

}  // namespace orlenta
