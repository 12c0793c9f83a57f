#include "email_pattern.h"

#include <re2/re2.h>

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

bool IsAsciiLetter(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsLabelCharacter(unsigned char c) { return IsAsciiLetter(c) || IsDigit(c) || c == '-'; }
bool IsLocalCharacter(unsigned char c) { return IsLabelCharacter(c) || c == '_' || c == '.'; }

}  // namespace

bool IsValidEmail(std::string_view token) {
    return RE2::FullMatch(re2::StringPiece(token.data(), token.size()), CompiledPattern());
}

bool IsValidEmailFast(std::string_view token) {
    // local "@" (label ".")+ last: the bracketed forms of the pattern need "[" or "]", which
    // a token never holds.
    const std::size_t at = token.find('@');
    if (at == 0 || at == std::string_view::npos || token[0] == '.') {
        return false;
    }
    for (std::size_t i = 0; i < at; ++i) {
        if (!IsLocalCharacter(static_cast<unsigned char>(token[i]))) {
            return false;
        }
    }
    // The domain: labels separated by "." and a last label of two or more letters, after at
    // least one full stop.
    const std::string_view domain = token.substr(at + 1);
    const std::size_t lastDot = domain.rfind('.');
    if (lastDot == std::string_view::npos || domain.size() - lastDot - 1 < 2) {
        return false;
    }
    for (std::size_t i = lastDot + 1; i < domain.size(); ++i) {
        if (!IsAsciiLetter(static_cast<unsigned char>(domain[i]))) {
            return false;
        }
    }
    std::size_t labelLength = 0;
    for (std::size_t i = 0; i <= lastDot; ++i) {
        const unsigned char c = static_cast<unsigned char>(domain[i]);
        if (c == '.') {
            if (labelLength == 0) {
                return false;
            }
            labelLength = 0;
        } else if (IsLabelCharacter(c)) {
            ++labelLength;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace orlenta
