#pragma once

#include <string>
#include <string_view>

namespace orlenta {

// The standard encodings of mail text, decoded to bytes (no charset conversion: the addresses
// sought are ASCII). Used by MailDecodingSource, one line or one header value at a time.

// Writes the quoted-printable `text` decoded to `out`, which has room for text.size() bytes,
// and returns the count written: "=3D" gives "=", a "=" not followed by two hex digits stays as
// it is, a soft line break ("=", maybe blanks, then LF or CR LF) is left out with its line end,
// so "bob.long@exam=" LF "ple.com" gives "bob.long@example.com". `text` is one line without
// its end or whole lines with theirs; `softBreak` tells whether it ends in "=" and blanks, a
// soft line break whose line end the caller then leaves out.
std::size_t DecodeQuotedPrintable(std::string_view text, char* out, bool& softBreak);

// Base64 fed in pieces (lines); characters outside the alphabet are skipped, "=" ends a
// group, so concatenated encodings decode too.
class Base64Decoder {
public:
    // Writes the bytes of `text` to `out`, which has room for text.size() bytes; the count.
    std::size_t decode(std::string_view text, char* out);
    // Writes the bytes of an unfinished group (2 or 3 characters, so at most 2 bytes), starts
    // afresh and returns the count.
    std::size_t finish(char* out);

private:
    unsigned bits_ = 0;
    int count_ = 0;
};

// Appends the header value `value` with its encoded words ("=?UTF-8?Q?Ann_Lee?=",
// "=?utf-8?B?QW5u?=") decoded; blanks between two adjacent encoded words are dropped, as
// RFC 2047 says. Malformed words stay as they are.
void AppendDecodedHeaderValue(std::string_view value, std::string& out);

}  // namespace orlenta
