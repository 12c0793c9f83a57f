#pragma once

// The one check the fuzzer runs on every input and the replay test runs on every stored
// input: all the ways the engine extracts addresses must agree with the slow reference
// (reference_extractor.h), and its two validators and its set of addresses met with theirs.
//
// What is compared, for input bytes B (cut to LongestCheckedInput):
// - B read as one file in chunks of 30000: ExtractEmailsFromText and ScanChunkForEmails chunk
//   by chunk, ReadFileChunks, and RunExtraction over B as a file and as a stream, with the
//   sink's yields and calls counted; ScanChunkForEmails with lone LFs ending tokens against
//   the reference on B with every LF a space; RunExtractionInParallel over B as a file, a
//   stream and the file again;
// - when B[2] >= 128, B behind (B[2] - 128) * 2048 bytes of filler, as a file and as a
//   stream, so that files run over several of the reader's reads;
// - the first chunk of B, scanned by ScanChunkForEmails with a gate that stops it before
//   candidate number B[1] modulo (candidates + 1), then scanned again in full with the same
//   set;
// - B[1..] (at most LongestSmallChunkInput bytes) in chunks of 1 + B[0] bytes, so that short
//   inputs put tokens across chunk borders: ExtractEmailsFromText and ScanChunkForEmails;
// - every token of B, stripped and unstripped: IsValidEmail, the scanner on the token alone
//   and the reference pattern; SeenEmails against a std::set of lower-cased tokens.

#include <cstddef>
#include <string>
#include <string_view>

namespace orlenta::fuzz {

// Longer inputs are cut to this many bytes: still three chunk borders, and the fuzzer stays
// fast.
inline constexpr std::size_t LongestCheckedInput = 100000;

// The chunk-border check with small chunks looks at no more than this many bytes.
inline constexpr std::size_t LongestSmallChunkInput = 4096;

// An empty string when the engine and the reference agree on `input`; otherwise what differs
// first, in one line, with the bytes involved escaped.
std::string FindEngineDisagreement(std::string_view input);

}  // namespace orlenta::fuzz
