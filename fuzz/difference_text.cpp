#include "fuzz/difference_text.h"

#include <algorithm>

namespace orlenta::fuzz {

std::string Quoted(std::string_view bytes) {
    constexpr std::size_t Shown = 100;
    static const char hex[] = "0123456789ABCDEF";
    std::string text = "\"";
    for (unsigned char c : bytes.substr(0, Shown)) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            text += static_cast<char>(c);
        } else {
            text += "\\x";
            text += hex[c >> 4];
            text += hex[c & 0xF];
        }
    }
    text += "\"";
    if (bytes.size() > Shown) {
        text += "...(" + std::to_string(bytes.size()) + " bytes)";
    }
    return text;
}

std::string CompareCounts(const std::string& what, std::size_t expected, std::size_t got) {
    if (expected == got) {
        return {};
    }
    return what + ": " + std::to_string(got) + ", expected " + std::to_string(expected);
}

std::string CompareChunks(const std::string& what, const Strings& expected, const Strings& got) {
    for (std::size_t i = 0; i < expected.size() && i < got.size(); ++i) {
        if (expected[i] != got[i]) {
            const auto [e, g] =
                std::mismatch(expected[i].begin(), expected[i].end(), got[i].begin(), got[i].end());
            return what + ": chunk " + std::to_string(i) + " differs from byte " +
                   std::to_string(e - expected[i].begin()) + " on (" +
                   std::to_string(got[i].size()) + " bytes, the reference " +
                   std::to_string(expected[i].size()) + ")";
        }
    }
    return CompareCounts(what + ", chunks", expected.size(), got.size());
}

std::string CompareLists(const std::string& what, const Strings& expected, const Strings& got) {
    const auto [e, g] = std::mismatch(expected.begin(), expected.end(), got.begin(), got.end());
    if (e == expected.end() && g == got.end()) {
        return {};
    }
    const std::size_t at = static_cast<std::size_t>(e - expected.begin());
    return what + ": item " + std::to_string(at) + " is " +
           (g == got.end() ? std::string("missing") : Quoted(*g)) + ", the reference has " +
           (e == expected.end() ? std::string("nothing") : Quoted(*e)) + " (" +
           std::to_string(got.size()) + " items, the reference " + std::to_string(expected.size()) +
           ")";
}

}  // namespace orlenta::fuzz
