#pragma once

#include <string_view>

namespace orlenta {

// The pattern an e-mail candidate must match as a whole (ECMAScript syntax, 190 characters).
// In practice it accepts: a local part of ASCII letters, digits, "_", "-" and "." that does
// not begin with "."; one "@"; one or more labels of letters, digits and "-", each followed
// by "."; a last label of two or more ASCII letters. Example: "Ann.Lee@mail.example.com".
inline constexpr std::string_view EmailPattern =
    "^([a-zA-Z0-9_\\-])([a-zA-Z0-9_\\-\\.]*)@(\\[((25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9][0-9]|"
    "[0-9])\\.){3}|((([a-zA-Z0-9\\-]+)\\.)+))([a-zA-Z]{2,}|(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|"
    "[1-9][0-9]|[0-9])\\])$";

// True exactly when the whole token matches EmailPattern (case-sensitive, bytes taken one by
// one as Latin-1, so no byte above 127 ever matches). Uses RE2: linear time, no recursion. The
// engine's scanner validates while it widens a token instead; the tests hold it to this.
bool IsValidEmail(std::string_view token);

}  // namespace orlenta
