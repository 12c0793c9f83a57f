#include "cli/escaped_name.h"

namespace orlenta {

std::string EscapedName(std::string_view name) {
    std::string shown;
    shown.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F && c != '\\') {
            shown += c;
            continue;
        }
        shown += '\\';
        if (c == '\\') {
            shown += '\\';
        } else if (c >= '\a' && c <= '\r') {
            shown += "abtnvfr"[c - '\a'];  // \a \b \t \n \v \f \r, the bytes 7 to 13 in order
        } else {
            shown += static_cast<char>('0' + (byte >> 6));
            shown += static_cast<char>('0' + ((byte >> 3) & 7));
            shown += static_cast<char>('0' + (byte & 7));
        }
    }
    return shown;
}

}  // namespace orlenta
