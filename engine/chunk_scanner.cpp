#include "chunk_scanner.h"

#include "email_pattern.h"
#include "punctuation.h"

#include <cstring>

namespace orlenta {

namespace {

// A byte that ends a token: tab, CR, space, any stripped punctuation character, and an LF
// that directly follows a CR (the CR LF pair). A lone LF is part of its token.
bool EndsToken(std::string_view text, std::size_t i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == ' ' || c == '\t' || c == '\r' || IsReplacedPunctuation(c)) {
        return true;
    }
    return c == '\n' && i > 0 && text[i - 1] == '\r';
}

}  // namespace

void ScanChunkForEmails(std::string_view chunk, SeenEmails& seen,
                        std::vector<std::string_view>& found,
                        const CandidateHook& beforeCandidate) {
    found.clear();
    const char* const base = chunk.data();
    std::size_t from = 0;
    while (from < chunk.size()) {
        const void* hit = std::memchr(base + from, '@', chunk.size() - from);
        if (hit == nullptr) {
            break;
        }
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
        // Widen to the whole token. Everything between the previous token's end and this "@"
        // lies in no candidate yet, so each byte is looked at a bounded number of times.
        std::size_t begin = at;
        while (begin > from && !EndsToken(chunk, begin - 1)) {
            --begin;
        }
        std::size_t end = at + 1;
        // Moving right, an LF never ends the token: its left neighbour is inside the token, so
        // it is no CR.
        while (end < chunk.size() && !EndsToken(chunk, end)) {
            ++end;
        }
        const std::string_view token = chunk.substr(begin, end - begin);
        from = end;
        if (token.find('.') == std::string_view::npos) {
            continue;
        }
        if (beforeCandidate) {
            beforeCandidate();
        }
        if (IsValidEmailFast(token) && seen.InsertLowerCased(token)) {
            found.push_back(token);
        }
    }
}

}  // namespace orlenta
