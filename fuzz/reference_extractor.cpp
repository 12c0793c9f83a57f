#include "fuzz/reference_extractor.h"

#include "tests/support/email_pattern.h"

#include <regex>
#include <unordered_map>

namespace orlenta::reference {

namespace {

// Longer tokens go to the tests' RE2 validator: std::regex recurses about once per character.
constexpr std::size_t LongestTokenForStdRegex = 199;

// Cuts `text` at every occurrence of `separator`, keeping empty pieces.
std::vector<std::string> SplitAt(const std::string& text, const std::string& separator) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    std::size_t at = text.find(separator);
    while (at != std::string::npos) {
        pieces.push_back(text.substr(start, at - start));
        start = at + separator.size();
        at = text.find(separator, start);
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

bool Contains(const std::string& text, char c) {
    return text.find(c) != std::string::npos;
}

bool MatchesEmailPatternUncached(const std::string& token) {
    if (token.size() <= LongestTokenForStdRegex) {
        static const std::regex pattern(EmailPattern.begin(), EmailPattern.end(),
                                        std::regex::ECMAScript);
        return std::regex_match(token, pattern);
    }
    return orlenta::IsValidEmail(token);
}

}  // namespace

const std::string_view EmailPattern =
    R"(^([a-zA-Z0-9_\-])([a-zA-Z0-9_\-\.]*)@(\[((25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9][0-9]|[0-9])\.){3}|((([a-zA-Z0-9\-]+)\.)+))([a-zA-Z]{2,}|(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9][0-9]|[0-9])\])$)";

std::vector<std::string> CutIntoChunks(std::string_view bytes, std::size_t chunkSize) {
    std::vector<std::string> chunks;
    for (std::size_t start = 0; start < bytes.size(); start += chunkSize) {
        chunks.emplace_back(bytes.substr(start, chunkSize));
    }
    return chunks;
}

std::string ReplacePunctuation(std::string text) {
    // The 27 characters in the order of the design's table.
    static const std::string replaced = {',', '!',  '"', '#', '$', '%', '&', '\'', '(',
                                         ')', '*',  '/', ':', ';', '<', '=', '>',  '?',
                                         '[', '\\', ']', '^', '`', '{', '|', '}',  '~'};
    for (char c : replaced) {
        for (std::size_t at = text.find(c); at != std::string::npos; at = text.find(c, at)) {
            text.replace(at, 1, " ");
        }
    }
    return text;
}

std::vector<std::string> SplitIntoTokens(const std::string& text) {
    std::vector<std::string> pieces{text};
    for (const std::string separator : {"\r\n", "\t", "\r", " "}) {
        std::vector<std::string> next;
        for (const std::string& piece : pieces) {
            for (std::string& part : SplitAt(piece, separator)) {
                next.push_back(std::move(part));
            }
        }
        pieces = std::move(next);
    }
    return pieces;
}

std::vector<std::string> CandidatesOf(const std::string& strippedText) {
    std::vector<std::string> candidates;
    for (std::string& token : SplitIntoTokens(strippedText)) {
        if (Contains(token, '@') && Contains(token, '.')) {
            candidates.push_back(std::move(token));
        }
    }
    return candidates;
}

bool MatchesEmailPattern(const std::string& token) {
    // The answer depends on the token alone, and the fuzzer's inputs repeat tokens over and
    // over; std::regex is what makes the reference slow.
    constexpr std::size_t MostAnswersKept = 100000;
    static std::unordered_map<std::string, bool> answers;
    if (const auto known = answers.find(token); known != answers.end()) {
        return known->second;
    }
    if (answers.size() >= MostAnswersKept) {
        answers.clear();
    }
    const bool answer = MatchesEmailPatternUncached(token);
    answers.emplace(token, answer);
    return answer;
}

std::string LowerAsciiLetters(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::vector<std::string> Run::AddChunk(std::string_view chunk) {
    std::vector<std::string> found;
    for (std::string& candidate : CandidatesOf(ReplacePunctuation(std::string(chunk)))) {
        if (MatchesEmailPattern(candidate) && Remember(candidate)) {
            found.push_back(std::move(candidate));
        }
    }
    return found;
}

bool Run::Remember(const std::string& address) {
    return seen_.insert(LowerAsciiLetters(address)).second;
}

std::vector<std::string> ExtractAll(std::string_view bytes, std::size_t chunkSize) {
    Run run;
    std::vector<std::string> found;
    for (const std::string& chunk : CutIntoChunks(bytes, chunkSize)) {
        for (std::string& address : run.AddChunk(chunk)) {
            found.push_back(std::move(address));
        }
    }
    return found;
}

}  // namespace orlenta::reference
