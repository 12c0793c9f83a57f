#include "extract_emails.h"

#include "email_pattern.h"
#include "punctuation.h"
#include "split_candidates.h"

namespace orlenta {

std::vector<std::string_view> ExtractEmailsFromText(std::string_view chunk, SeenEmails& seen,
                                                    const CandidateHook& beforeCandidate) {
    const std::string stripped = StripPunctuation(chunk);
    std::vector<std::string_view> found;
    for (std::string_view candidate : SplitCandidates(stripped)) {
        if (beforeCandidate) {
            beforeCandidate();
        }
        if (!IsValidEmail(candidate) || !seen.InsertLowerCased(candidate)) {
            continue;
        }
        // Stripping only turns characters into spaces, and a candidate holds none, so the
        // candidate reads the same at the same place in the chunk itself.
        found.push_back(chunk.substr(static_cast<std::size_t>(candidate.data() - stripped.data()),
                                     candidate.size()));
    }
    return found;
}

}  // namespace orlenta
