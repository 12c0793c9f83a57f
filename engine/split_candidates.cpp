#include "split_candidates.h"

namespace orlenta {

namespace {

bool IsCandidate(std::string_view token) {
    return token.find('@') != std::string_view::npos && token.find('.') != std::string_view::npos;
}

}  // namespace

std::vector<std::string_view> SplitCandidates(std::string_view text) {
    // Splitting at CR LF, then tab, then CR, then space gives the same tokens as one pass that
    // ends a token at tab, CR or space and also at an LF that directly follows a CR (the pair
    // is one separator; a lone LF stays in its token).
    std::vector<std::string_view> candidates;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        bool separator = i == text.size();
        if (!separator) {
            const char c = text[i];
            separator = c == ' ' || c == '\t' || c == '\r' || (c == '\n' && i > 0 && text[i - 1] == '\r');
        }
        if (separator) {
            const std::string_view token = text.substr(start, i - start);
            if (IsCandidate(token)) {
                candidates.push_back(token);
            }
            start = i + 1;
        }
    }
    return candidates;
}

}  // namespace orlenta
