#include "engine/mail_transfer_decoding.h"

#include <array>
#include <cstring>

namespace orlenta {

namespace {

// -1 for a byte that is no hex digit, else its value.
constexpr std::array<signed char, 256> MakeHexTable() {
    std::array<signed char, 256> table{};
    for (int i = 0; i < 256; ++i) {
        table[i] = -1;
    }
    for (int i = 0; i < 10; ++i) {
        table['0' + i] = static_cast<signed char>(i);
    }
    for (int i = 0; i < 6; ++i) {
        table['A' + i] = static_cast<signed char>(10 + i);
        table['a' + i] = static_cast<signed char>(10 + i);
    }
    return table;
}
constexpr std::array<signed char, 256> HexValue = MakeHexTable();

// -1 outside the base64 alphabet, -2 for the pad "=".
constexpr std::array<signed char, 256> MakeBase64Table() {
    std::array<signed char, 256> table{};
    for (int i = 0; i < 256; ++i) {
        table[i] = -1;
    }
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
    }
    table['='] = -2;
    return table;
}
constexpr std::array<signed char, 256> Base64Value = MakeBase64Table();

unsigned char Byte(char c) {
    return static_cast<unsigned char>(c);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Appends the quoted-printable text of an encoded word: as a body line, and "_" is a space.
void AppendQEncoded(std::string_view text, std::string& out) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            out.push_back(' ');
        } else if (c == '=' && i + 2 < text.size() && HexValue[Byte(text[i + 1])] >= 0 &&
                   HexValue[Byte(text[i + 2])] >= 0) {
            out.push_back(
                static_cast<char>(HexValue[Byte(text[i + 1])] * 16 + HexValue[Byte(text[i + 2])]));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
}

// Decodes the encoded word that starts at `value[start]` ("=?"), appending its bytes; the
// index past its "?=", or 0 when it is not a well-formed word.
std::size_t DecodeEncodedWord(std::string_view value, std::size_t start, std::string& out) {
    const std::size_t charsetEnd = value.find('?', start + 2);
    if (charsetEnd == std::string_view::npos || charsetEnd == start + 2 ||
        charsetEnd + 3 > value.size() || value[charsetEnd + 2] != '?') {
        return 0;
    }
    const char encoding = value[charsetEnd + 1];
    const std::size_t textStart = charsetEnd + 3;
    const std::size_t textEnd = value.find("?=", textStart);
    if (textEnd == std::string_view::npos) {
        return 0;
    }
    const std::string_view text = value.substr(textStart, textEnd - textStart);
    if (text.find_first_of(" \t\r\n") != std::string_view::npos) {
        return 0;
    }
    if (encoding == 'Q' || encoding == 'q') {
        AppendQEncoded(text, out);
    } else if (encoding == 'B' || encoding == 'b') {
        Base64Decoder decoder;
        const std::size_t at = out.size();
        out.resize(at + text.size() + 2);
        std::size_t count = decoder.decode(text, &out[at]);
        count += decoder.finish(&out[at + count]);
        out.resize(at + count);
    } else {
        return 0;
    }
    return textEnd + 2;
}

}  // namespace

std::size_t DecodeQuotedPrintable(std::string_view text, char* out, bool& softBreak) {
    const char* data = text.data();
    const std::size_t size = text.size();
    char* const begin = out;
    softBreak = false;
    std::size_t i = 0;
    while (i < size) {
        // Plain runs are copied whole: most of a line has no "=".
        const void* equals = std::memchr(data + i, '=', size - i);
        const std::size_t at = equals ? static_cast<const char*>(equals) - data : size;
        std::memcpy(out, data + i, at - i);
        out += at - i;
        if (at == size) {
            break;
        }
        if (at + 2 < size && HexValue[Byte(data[at + 1])] >= 0 &&
            HexValue[Byte(data[at + 2])] >= 0) {
            *out++ =
                static_cast<char>(HexValue[Byte(data[at + 1])] * 16 + HexValue[Byte(data[at + 2])]);
            i = at + 3;
            continue;
        }
        std::size_t after = at + 1;
        while (after < size && IsBlank(data[after])) {
            ++after;
        }
        if (after == size) {
            softBreak = true;  // "=" and blanks to the line end
            break;
        }
        if (data[after] == '\n' ||
            (data[after] == '\r' && after + 1 < size && data[after + 1] == '\n')) {
            i = after + (data[after] == '\n' ? 1 : 2);  // a soft line break inside the text
            continue;
        }
        *out++ = '=';
        i = at + 1;
    }
    return static_cast<std::size_t>(out - begin);
}

std::size_t Base64Decoder::decode(std::string_view text, char* out) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = in + text.size();
    char* const begin = out;
    unsigned bits = bits_;
    int count = count_;
    while (in < end) {
        // Whole groups of four alphabet characters, the bulk of every line, in one step.
        if (count == 0) {
            while (end - in >= 4) {
                const int a = Base64Value[in[0]], b = Base64Value[in[1]], c = Base64Value[in[2]],
                          d = Base64Value[in[3]];
                if ((a | b | c | d) < 0) {
                    break;
                }
                const unsigned group =
                    (unsigned(a) << 18) | (unsigned(b) << 12) | (unsigned(c) << 6) | unsigned(d);
                out[0] = static_cast<char>(group >> 16);
                out[1] = static_cast<char>(group >> 8);
                out[2] = static_cast<char>(group);
                out += 3;
                in += 4;
            }
            if (in == end) {
                break;
            }
        }
        const int value = Base64Value[*in++];
        if (value >= 0) {
            bits = (bits << 6) | static_cast<unsigned>(value);
            if (++count == 4) {
                out[0] = static_cast<char>(bits >> 16);
                out[1] = static_cast<char>(bits >> 8);
                out[2] = static_cast<char>(bits);
                out += 3;
                bits = 0;
                count = 0;
            }
        } else if (value == -2 && count != 0) {
            bits_ = bits;
            count_ = count;
            out += finish(out);
            bits = 0;
            count = 0;
        }
    }
    bits_ = bits;
    count_ = count;
    return static_cast<std::size_t>(out - begin);
}

std::size_t Base64Decoder::finish(char* out) {
    std::size_t count = 0;
    if (count_ == 2) {
        out[count++] = static_cast<char>(bits_ >> 4);
    } else if (count_ == 3) {
        out[count++] = static_cast<char>(bits_ >> 10);
        out[count++] = static_cast<char>(bits_ >> 2);
    }
    bits_ = 0;
    count_ = 0;
    return count;
}

void AppendDecodedHeaderValue(std::string_view value, std::string& out) {
    std::size_t i = 0;
    bool afterWord = false;  // the last thing appended was an encoded word
    while (i < value.size()) {
        const std::size_t start = value.find("=?", i);
        if (start == std::string_view::npos) {
            out.append(value.substr(i));
            return;
        }
        std::string decoded;
        const std::size_t end = DecodeEncodedWord(value, start, decoded);
        if (end == 0) {
            out.append(value.substr(i, start + 2 - i));
            i = start + 2;
            afterWord = false;
            continue;
        }
        const std::string_view between = value.substr(i, start - i);
        const bool onlyBlanks = between.find_first_not_of(" \t\r\n") == std::string_view::npos;
        if (!(afterWord && onlyBlanks)) {
            out.append(between);
        }
        out.append(decoded);
        i = end;
        afterWord = true;
    }
}

}  // namespace orlenta
