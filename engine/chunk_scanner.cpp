#include "engine/chunk_scanner.h"

#include "engine/byte_classes.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace orlenta {

namespace {

// The token around one "@", found by widening to both sides, and what the widening learnt on
// the way: whether the token is a candidate (it holds a ".") and whether it is an address.
// The check is the e-mail pattern's, done while the bytes pass by anyway: the local part is the
// part left of this "@" (no "@" lies between the previous token and it), the domain the rest.
struct Token {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool hasDot = false;
    bool valid = false;
};

// A token ends at tab, CR, space and the replaced punctuation, and at an LF that directly
// follows a CR (the CR LF pair); a lone LF belongs to its token unless `LoneLfEnds`. Widening
// looks no further left than `floor`, the end of the previous token.
template <bool LoneLfEnds>
Token WidenAround(const unsigned char* text, std::size_t at, std::size_t floor, std::size_t size) {
    Token token;

    std::size_t begin = at;
    bool localOk = true;
    bool dotInLocal = false;
    while (begin > floor) {
        const unsigned char c = text[begin - 1];
        const std::uint8_t flags = ByteFlags[c];
        if ((flags & EndsTokenByte) != 0 ||
            (c == '\n' && (LoneLfEnds || (begin >= 2 && text[begin - 2] == '\r')))) {
            break;
        }
        localOk &= (flags & LocalByte) != 0;
        dotInLocal |= c == '.';
        --begin;
    }
    localOk &= begin < at && text[begin] != '.';

    // Moving right, an LF ends the token only if lone ones do: its left neighbour is inside
    // the token, so it is no CR.
    std::size_t end = at + 1;
    std::size_t labelLength = 0;  // of the label being read
    bool domainOk = true;         // labels of label bytes, none empty
    bool dotInDomain = false;
    bool lastLabelLetters = true;  // the label being read holds letters only
    while (end < size) {
        const unsigned char c = text[end];
        const std::uint8_t flags = ByteFlags[c];
        if ((flags & EndsTokenByte) != 0 || (LoneLfEnds && c == '\n')) {
            break;
        }
        if (c == '.') {
            domainOk &= labelLength != 0;
            dotInDomain = true;
            labelLength = 0;
            lastLabelLetters = true;
        } else {
            domainOk &= (flags & LabelByte) != 0;
            lastLabelLetters &= (flags & LetterByte) != 0;
            ++labelLength;
        }
        ++end;
    }

    token.begin = begin;
    token.end = end;
    token.hasDot = dotInLocal || dotInDomain;
    token.valid = localOk && domainOk && dotInDomain && labelLength >= 2 && lastLabelLetters;
    return token;
}

}  // namespace

// Valid candidates wait here until a batch is full; then they go into the set together, in
// text order, so the set can fetch their places from memory all at once.
class PendingAddresses final {
public:
    PendingAddresses(SeenEmails& seen, std::vector<std::string_view>& found)
        : seen_(seen), found_(found) {}

    void add(std::string_view address) {
        batch_[count_++] = address;
        if (count_ == batch_.size()) {
            flush();
        }
    }

    void flush() {
        bool isNew[BatchSize];
        seen_.InsertLowerCased(batch_.data(), count_, isNew);
        for (std::size_t i = 0; i < count_; ++i) {
            if (isNew[i]) {
                found_.push_back(batch_[i]);
            }
        }
        count_ = 0;
    }

private:
    static constexpr std::size_t BatchSize = 32;

    SeenEmails& seen_;
    std::vector<std::string_view>& found_;
    std::array<std::string_view, BatchSize> batch_;
    std::size_t count_ = 0;
};

namespace {

// Calls onCandidate(token, valid) for each candidate of the chunk in text order; a false
// answer ends the scan. False when ended so.
template <bool LoneLfEnds, typename OnCandidate>
bool ForEachCandidate(std::string_view chunk, OnCandidate&& onCandidate) {
    const auto* const text = reinterpret_cast<const unsigned char*>(chunk.data());
    const std::size_t size = chunk.size();
    std::size_t from = 0;
    while (from < size) {
        const void* hit = std::memchr(text + from, '@', size - from);
        if (hit == nullptr) {
            break;
        }
        const auto at = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - text);
        // Everything between the previous token's end and this "@" lies in no candidate yet,
        // so each byte is looked at a bounded number of times.
        const Token token = WidenAround<LoneLfEnds>(text, at, from, size);
        from = token.end;
        if (token.hasDot &&
            !onCandidate(chunk.substr(token.begin, token.end - token.begin), token.valid)) {
            return false;
        }
    }
    return true;
}

template <typename OnCandidate>
bool ForEachCandidate(std::string_view chunk, LoneLf loneLf, OnCandidate&& onCandidate) {
    return loneLf == LoneLf::EndsToken ? ForEachCandidate<true>(chunk, onCandidate)
                                       : ForEachCandidate<false>(chunk, onCandidate);
}

}  // namespace

bool ScanChunkForEmails(std::string_view chunk, SeenEmails& seen,
                        std::vector<std::string_view>& found, CandidateGate& gate, LoneLf loneLf) {
    found.clear();
    PendingAddresses pending(seen, found);
    const bool finished = ForEachCandidate(chunk, loneLf, [&](std::string_view token, bool valid) {
        if (!gate.mayGoOn()) {
            return false;
        }
        if (valid) {
            pending.add(token);
        }
        return true;
    });
    pending.flush();
    return finished;
}

void FindAddresses(std::string_view chunk, std::vector<std::string_view>& found, LoneLf loneLf) {
    ForEachCandidate(chunk, loneLf, [&found](std::string_view token, bool valid) {
        if (valid) {
            found.push_back(token);
        }
        return true;
    });
}

void ScanChunkForEmails(std::string_view chunk, SeenEmails& seen,
                        std::vector<std::string_view>& found, LoneLf loneLf) {
    class Always final : public CandidateGate {
    public:
        bool mayGoOn() override { return true; }
    } always;
    ScanChunkForEmails(chunk, seen, found, always, loneLf);
}

}  // namespace orlenta
