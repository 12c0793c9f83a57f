#include "chunk_scanner.h"

#include "byte_classes.h"
#include "email_pattern.h"

#include <cstring>

namespace orlenta {

namespace {

// The first byte of the token that holds position `at`, looking no further left than
// `floor`. A token ends at tab, CR, space and the replaced punctuation, and at an LF that
// directly follows a CR (the CR LF pair); a lone LF belongs to its token.
std::size_t TokenBegin(const unsigned char* text, std::size_t at, std::size_t floor) {
    std::size_t begin = at;
    while (begin > floor) {
        const unsigned char c = text[begin - 1];
        if (HasFlag(c, EndsTokenByte) || (c == '\n' && begin >= 2 && text[begin - 2] == '\r')) {
            break;
        }
        --begin;
    }
    return begin;
}

// One past the last byte of the token that holds position `from - 1`. Moving right, an LF
// never ends the token: its left neighbour is inside the token, so it is no CR.
std::size_t TokenEnd(const unsigned char* text, std::size_t from, std::size_t size) {
    std::size_t end = from;
    while (end < size && !HasFlag(text[end], EndsTokenByte)) {
        ++end;
    }
    return end;
}

}  // namespace

bool ScanChunkForEmails(std::string_view chunk, SeenEmails& seen,
                        std::vector<std::string_view>& found, CandidateGate& gate) {
    found.clear();
    const auto* const text = reinterpret_cast<const unsigned char*>(chunk.data());
    const std::size_t size = chunk.size();
    std::size_t from = 0;
    while (from < size) {
        const void* hit = std::memchr(text + from, '@', size - from);
        if (hit == nullptr) {
            break;
        }
        const std::size_t at =
            static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - text);
        // Everything between the previous token's end and this "@" lies in no candidate yet,
        // so each byte is looked at a bounded number of times.
        const std::size_t begin = TokenBegin(text, at, from);
        const std::size_t end = TokenEnd(text, at + 1, size);
        from = end;
        if (std::memchr(text + begin, '.', end - begin) == nullptr) {
            continue;
        }
        if (!gate.mayGoOn()) {
            return false;
        }
        const std::string_view token = chunk.substr(begin, end - begin);
        if (IsValidEmailFast(token) && seen.InsertLowerCased(token)) {
            found.push_back(token);
        }
    }
    return true;
}

void ScanChunkForEmails(std::string_view chunk, SeenEmails& seen,
                        std::vector<std::string_view>& found,
                        const CandidateHook& beforeCandidate) {
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
    ScanChunkForEmails(chunk, seen, found, gate);
}

}  // namespace orlenta
