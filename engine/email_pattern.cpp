#include "email_pattern.h"

#include "byte_classes.h"

#include <re2/re2.h>

#include <cstring>

namespace orlenta {

namespace {

const RE2& CompiledPattern() {
    // Latin-1: one character per byte, as the files are read; UTF-8 decoding would merge bytes.
    static const RE2 pattern = [] {
        RE2::Options options;
        options.set_encoding(RE2::Options::EncodingLatin1);
        options.set_log_errors(false);
        return RE2(re2::StringPiece(EmailPattern.data(), EmailPattern.size()), options);
    }();
    return pattern;
}

bool AllHaveFlag(const unsigned char* begin, const unsigned char* end, ByteFlag flag) {
    for (const unsigned char* p = begin; p != end; ++p) {
        if (!HasFlag(*p, flag)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsValidEmail(std::string_view token) {
    return RE2::FullMatch(re2::StringPiece(token.data(), token.size()), CompiledPattern());
}

bool IsValidEmailFast(std::string_view token) {
    // local "@" (label ".")+ last: the bracketed forms of the pattern need "[" or "]", which
    // a token never holds.
    const auto* const begin = reinterpret_cast<const unsigned char*>(token.data());
    const auto* const end = begin + token.size();
    const auto* const at = static_cast<const unsigned char*>(std::memchr(begin, '@', token.size()));
    if (at == nullptr || at == begin || *begin == '.' || !AllHaveFlag(begin, at, LocalByte)) {
        return false;
    }
    // The last label: two or more letters after the last full stop, which the domain needs.
    const unsigned char* lastDot = end;
    while (lastDot != at && *(lastDot - 1) != '.') {
        --lastDot;
    }
    if (lastDot == at || end - lastDot < 2 || !AllHaveFlag(lastDot, end, LetterByte)) {
        return false;
    }
    // Before it, one or more non-empty labels, each closed by its full stop.
    std::size_t labelLength = 0;
    for (const unsigned char* p = at + 1; p != lastDot; ++p) {
        if (*p == '.') {
            if (labelLength == 0) {
                return false;
            }
            labelLength = 0;
        } else if (HasFlag(*p, LabelByte)) {
            ++labelLength;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace orlenta
