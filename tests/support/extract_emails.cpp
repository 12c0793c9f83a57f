#include "tests/support/extract_emails.h"

#include "engine/chunk_scanner.h"
#include "tests/support/email_pattern.h"
#include "tests/support/punctuation.h"
#include "tests/support/split_candidates.h"

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

void ScanChunkForEmails(std::string_view chunk, SeenEmails& seen,
                        std::vector<std::string_view>& found, const CandidateHook& beforeCandidate,
                        LoneLf loneLf) {
    class CallHook final : public CandidateGate {
    public:
        explicit CallHook(const CandidateHook& hook) : hook_(hook) {}
        bool mayGoOn() override {
            if (hook_) {
                hook_();
            }
            return true;
        }

    private:
        const CandidateHook& hook_;
    };
    CallHook gate(beforeCandidate);
    ScanChunkForEmails(chunk, seen, found, gate, loneLf);
}

}  // namespace orlenta
