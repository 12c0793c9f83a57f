#include "punctuation.h"

#include <array>

namespace orlenta {

namespace {

constexpr std::string_view ReplacedCharacters = ",!\"#$%&'()*/:;<=>?[\\]^`{|}~";

constexpr std::array<bool, 256> MakeReplacedTable() {
    std::array<bool, 256> table{};
    for (char c : ReplacedCharacters) {
        table[static_cast<unsigned char>(c)] = true;
    }
    return table;
}

constexpr std::array<bool, 256> ReplacedTable = MakeReplacedTable();
static_assert(ReplacedCharacters.size() == 27);

}  // namespace

bool IsReplacedPunctuation(unsigned char c) { return ReplacedTable[c]; }

std::string StripPunctuation(std::string_view text) {
    std::string stripped(text);
    for (char& c : stripped) {
        if (ReplacedTable[static_cast<unsigned char>(c)]) {
            c = ' ';
        }
    }
    return stripped;
}

}  // namespace orlenta
