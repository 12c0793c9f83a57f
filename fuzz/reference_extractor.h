#pragma once

// A slow extractor written straight from the definition of the run, sharing no code with the
// engine: the fuzzer and its replay test hold the engine to it. Every step is the literal one
// (string copies, repeated splitting, std::regex), so it is easy to check by reading, and far
// too slow for real files.
//
// Example: ExtractAll("Mail <Ann@X.org>, ann@x.ORG.", 30000) gives {"Ann@X.org"}.

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta::reference {

// The e-mail pattern, as written in the design (190 characters, ECMAScript syntax).
extern const std::string_view EmailPattern;

// The bytes cut into consecutive pieces of `chunkSize` bytes, the last one shorter; none for
// empty input. The run uses 30000.
std::vector<std::string> CutIntoChunks(std::string_view bytes, std::size_t chunkSize);

// The text with each of the 27 replaced punctuation characters turned into a space.
std::string ReplacePunctuation(std::string text);

// The text cut at CR LF, then tab, then CR, then space; empty tokens included.
std::vector<std::string> SplitIntoTokens(const std::string& text);

// The tokens that hold both "@" and ".", in text order.
std::vector<std::string> CandidatesOf(const std::string& strippedText);

// True when the whole token matches EmailPattern. std::regex for tokens under 200 characters;
// longer ones go to RE2 with the same pattern, because std::regex recurses once per character
// and runs out of stack on long tokens. Answers are remembered (not thread-safe).
bool MatchesEmailPattern(const std::string& token);

// "A" to "Z" turned into "a" to "z"; every other byte unchanged.
std::string LowerAsciiLetters(std::string text);

// One run: the lower-cased addresses met so far, and the addresses of each chunk given to it.
class Run {
public:
    // The addresses of `chunk` not met before in this run, as written, in text order.
    std::vector<std::string> AddChunk(std::string_view chunk);

    // True when the lower-cased `address` was not in the set before (it is now).
    bool Remember(const std::string& address);

    // How many lower-cased addresses the run has met.
    std::size_t size() const { return seen_.size(); }

private:
    std::set<std::string> seen_;
};

// Every address the run finds in `bytes` read as one file cut into chunks of `chunkSize`.
std::vector<std::string> ExtractAll(std::string_view bytes, std::size_t chunkSize);

}  // namespace orlenta::reference
