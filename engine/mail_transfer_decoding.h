#pragma once

#include <string>
#include <string_view>

namespace orlenta {

// The standard encodings of mail text, decoded to bytes (no charset conversion: the addresses
// sought are ASCII). Used by MailDecodingSource, one line or one header value at a time.

// Appends the quoted-printable `line` (without its line end) decoded to `out`: "=3D" gives
// "=", a "=" not followed by two hex digits stays as it is. True when the line ends in a soft
// line break ("=" then only blanks), whose line end is then no part of the text:
// "bob.long@exam=" + "ple.com" gives "bob.long@example.com".
bool AppendQuotedPrintableLine(std::string_view line, std::string& out);

// Base64 fed in pieces (lines); characters outside the alphabet are skipped, "=" ends a
// group, so concatenated encodings decode too.
class Base64Decoder {
public:
    void append(std::string_view text, std::string& out);
    // Appends the bytes of an unfinished group (2 or 3 characters) and starts afresh.
    void finish(std::string& out);

private:
    unsigned bits_ = 0;
    int count_ = 0;
};

// Appends the header value `value` with its encoded words ("=?UTF-8?Q?Ann_Lee?=",
// "=?utf-8?B?QW5u?=") decoded; blanks between two adjacent encoded words are dropped, as
// RFC 2047 says. Malformed words stay as they are.
void AppendDecodedHeaderValue(std::string_view value, std::string& out);

}  // namespace orlenta
