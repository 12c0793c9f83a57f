#include "tests/support/email_pattern.h"

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

}  // namespace

bool IsValidEmail(std::string_view token) {
    return RE2::FullMatch(re2::StringPiece(token.data(), token.size()), CompiledPattern());
}

}  // namespace orlenta
