#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace orlenta {

// The 27 punctuation characters that stripping turns into spaces: every printable ASCII
// punctuation character except "+", "-", ".", "@" and "_".
inline constexpr std::string_view ReplacedPunctuation = ",!\"#$%&'()*/:;<=>?[\\]^`{|}~";

// What one byte can be, as bit flags, so the scanner and the fast validator decide with one
// table look-up per byte. Bytes above 127 have no flag at all.
enum ByteFlag : std::uint8_t {
    ReplacedByte = 1 << 0,   // one of the 27 replaced punctuation characters
    EndsTokenByte = 1 << 1,  // space, tab, CR or a replaced character (LF depends on its left)
    LetterByte = 1 << 2,     // "A"-"Z", "a"-"z"
    LabelByte = 1 << 3,      // letters, digits and "-": a domain label
    LocalByte = 1 << 4,      // label bytes, "_" and ".": the local part
};

constexpr std::array<std::uint8_t, 256> MakeByteFlags() {
    std::array<std::uint8_t, 256> flags{};
    for (char c : ReplacedPunctuation) {
        flags[static_cast<unsigned char>(c)] |= ReplacedByte | EndsTokenByte;
    }
    for (unsigned char c : {' ', '\t', '\r'}) {
        flags[c] |= EndsTokenByte;
    }
    for (int c = 0; c < 256; ++c) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        if (letter) {
            flags[c] |= LetterByte;
        }
        if (letter || digit || c == '-') {
            flags[c] |= LabelByte | LocalByte;
        }
        if (c == '_' || c == '.') {
            flags[c] |= LocalByte;
        }
    }
    return flags;
}

inline constexpr std::array<std::uint8_t, 256> ByteFlags = MakeByteFlags();

static_assert(ReplacedPunctuation.size() == 27);

inline bool HasFlag(unsigned char c, ByteFlag flag) {
    return (ByteFlags[c] & flag) != 0;
}

}  // namespace orlenta
