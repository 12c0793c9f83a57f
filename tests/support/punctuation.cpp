#include "tests/support/punctuation.h"

#include "engine/byte_classes.h"

namespace orlenta {

bool IsReplacedPunctuation(unsigned char c) {
    return HasFlag(c, ReplacedByte);
}

std::string StripPunctuation(std::string_view text) {
    std::string stripped(text);
    for (char& c : stripped) {
        if (IsReplacedPunctuation(static_cast<unsigned char>(c))) {
            c = ' ';
        }
    }
    return stripped;
}

}  // namespace orlenta
