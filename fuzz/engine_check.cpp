#include "fuzz/engine_check.h"

#include "engine/byte_classes.h"
#include "engine/chunk_reader.h"
#include "engine/chunk_scanner.h"
#include "engine/extraction_run.h"
#include "engine/parallel_run.h"
#include "engine/seen_emails.h"
#include "fuzz/difference_text.h"
#include "fuzz/in_memory_file.h"
#include "fuzz/recording_sink.h"
#include "fuzz/reference_extractor.h"
#include "tests/support/email_pattern.h"
#include "tests/support/extract_emails.h"
#include "tests/support/read_file_chunks.h"

#include <algorithm>
#include <vector>

namespace orlenta::fuzz {

namespace {

// Appends the found views to `into` as strings; they must point into `chunk`.
std::string AppendViews(const std::string& what, std::string_view chunk,
                        const std::vector<std::string_view>& found, Strings& into) {
    for (std::string_view view : found) {
        if (view.data() < chunk.data() || view.data() + view.size() > chunk.data() + chunk.size()) {
            return what + ": " + Quoted(view) + " does not point into its chunk";
        }
        into.emplace_back(view);
    }
    return {};
}

// What the reference says about `bytes` read in chunks of `chunkSize`.
struct Expected {
    Strings chunks;
    std::size_t candidates = 0;
    Strings addresses;
};

Expected ReferenceFor(std::string_view bytes, std::size_t chunkSize) {
    Expected expected;
    expected.chunks = reference::CutIntoChunks(bytes, chunkSize);
    for (const std::string& chunk : expected.chunks) {
        expected.candidates += reference::CandidatesOf(reference::ReplacePunctuation(chunk)).size();
    }
    expected.addresses = reference::ExtractAll(bytes, chunkSize);
    return expected;
}

// ExtractEmailsFromText and ScanChunkForEmails chunk by chunk, one SeenEmails each for all
// chunks, with the candidate hook counted.
std::string CheckChunkByChunk(const Expected& expected, const std::string& label) {
    SeenEmails pipelineSeen;
    SeenEmails scannerSeen;
    Strings pipelineFound;
    Strings scannerFound;
    std::size_t pipelineHooks = 0;
    std::size_t scannerHooks = 0;
    std::vector<std::string_view> views;
    for (const std::string& chunk : expected.chunks) {
        std::string failure = AppendViews(
            "ExtractEmailsFromText" + label, chunk,
            ExtractEmailsFromText(chunk, pipelineSeen, [&] { ++pipelineHooks; }), pipelineFound);
        if (!failure.empty()) {
            return failure;
        }
        ScanChunkForEmails(chunk, scannerSeen, views, [&] { ++scannerHooks; });
        failure = AppendViews("ScanChunkForEmails" + label, chunk, views, scannerFound);
        if (!failure.empty()) {
            return failure;
        }
    }
    for (std::string failure :
         {CompareLists("ExtractEmailsFromText" + label, expected.addresses, pipelineFound),
          CompareLists("ScanChunkForEmails" + label, expected.addresses, scannerFound),
          CompareCounts("ExtractEmailsFromText" + label + ", candidate hook calls",
                        expected.candidates, pipelineHooks),
          CompareCounts("ScanChunkForEmails" + label + ", candidate hook calls",
                        expected.candidates, scannerHooks)}) {
        if (!failure.empty()) {
            return failure;
        }
    }
    return {};
}

// Says yes to the first `allowed` candidates, then no.
class StopAfter final : public CandidateGate {
public:
    explicit StopAfter(std::size_t allowed) : allowed_(allowed) {}
    bool mayGoOn() override { return asked_++ < allowed_; }

private:
    std::size_t allowed_;
    std::size_t asked_ = 0;
};

// A scan of `chunk` stopped before some candidate (`selector` picks which, the end
// included) reports, and records as met, the addresses among the candidates before it; a
// full scan afterwards with the same set gives the rest.
std::string CheckStoppedScan(const std::string& chunk, std::size_t selector) {
    const Strings candidates = reference::CandidatesOf(reference::ReplacePunctuation(chunk));
    const std::size_t stopAt = selector % (candidates.size() + 1);
    reference::Run run;
    Strings expectedBefore;
    Strings expectedAfter;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (reference::MatchesEmailPattern(candidates[i]) && run.Remember(candidates[i])) {
            (i < stopAt ? expectedBefore : expectedAfter).push_back(candidates[i]);
        }
    }
    const std::string what =
        "ScanChunkForEmails stopped before candidate " + std::to_string(stopAt);
    SeenEmails seen;
    std::vector<std::string_view> views;
    StopAfter gate(stopAt);
    const bool finished = ScanChunkForEmails(chunk, seen, views, gate);
    Strings before;
    Strings after;
    std::string failure = AppendViews(what, chunk, views, before);
    if (failure.empty()) {
        failure = CompareCounts(what + ", finished", stopAt >= candidates.size() ? 1 : 0,
                                finished ? 1 : 0);
    }
    if (failure.empty()) {
        failure = CompareLists(what, expectedBefore, before);
    }
    if (failure.empty()) {
        ScanChunkForEmails(chunk, seen, views);
        failure = AppendViews(what + ", then in full", chunk, views, after);
    }
    return failure.empty() ? CompareLists(what + ", then in full", expectedAfter, after) : failure;
}

// The run's report and its sink's record against what `files` runs over the same bytes must
// give: the addresses once, every chunk, candidate and full chunk once per file.
std::string CheckRun(const std::string& what, const RunResult& result, const RecordingSink& sink,
                     const Expected& expected, std::size_t files) {
    std::size_t fullChunks = 0;
    for (const std::string& chunk : expected.chunks) {
        fullChunks += chunk.size() == orlenta::ChunkSize ? 1 : 0;
    }
    for (std::string failure :
         {sink.protocolError().empty() ? std::string() : what + ": " + sink.protocolError(),
          CompareLists(what, expected.addresses, sink.addresses()),
          CompareLists(what + ", skipped files", {}, sink.skipped()),
          CompareCounts(what + ", files read", files, result.filesRead),
          CompareCounts(what + ", addresses counted", expected.addresses.size(),
                        result.addressesFound),
          CompareCounts(what + ", stopped", 0, result.stopped ? 1 : 0),
          CompareCounts(what + ", yields before a file", files,
                        sink.yields(YieldPoint::BeforeFile)),
          CompareCounts(what + ", yields before a full chunk", files * fullChunks,
                        sink.yields(YieldPoint::BeforeFullChunk)),
          CompareCounts(what + ", yields before a candidate", files * expected.candidates,
                        sink.yields(YieldPoint::BeforeCandidate)),
          CompareCounts(what + ", yields before an address", expected.addresses.size(),
                        sink.yields(YieldPoint::BeforeAppend)),
          CompareCounts(what + ", chunks scanned", files * expected.chunks.size(),
                        sink.chunksScanned())}) {
        if (!failure.empty()) {
            return failure;
        }
    }
    return {};
}

// The parallel run over the file, the same bytes as a stream and the file again: the addresses
// once, each chunk three times, on as many threads as the input's length picks (2 to 9).
std::string CheckParallelRun(const InMemoryFile& file, const Expected& expected,
                             const std::string& label) {
    class Sink final : public RunSink {
    public:
        void chunkScanned() override { ++chunks; }
        void addressFound(std::string_view address) override { addresses.emplace_back(address); }
        void fileSkipped(const std::string& path, const std::string& reason) override {
            skipped.push_back(path + ": " + reason);
        }
        Strings addresses;
        Strings skipped;
        std::size_t chunks = 0;
    } sink;
    const unsigned threads = 2 + static_cast<unsigned>(expected.chunks.size() % 8);
    const RunResult result = RunExtractionInParallel(
        3,
        [&file](std::size_t i) {
            return i == 1 ? ChunkReader::FromStream(file.rewound(), "(memory)")
                          : ChunkReader(file.path());
        },
        sink, threads);
    const std::string what =
        "RunExtractionInParallel on " + std::to_string(threads) + " threads" + label;
    for (std::string failure :
         {CompareLists(what, expected.addresses, sink.addresses),
          CompareLists(what + ", skipped files", {}, sink.skipped),
          CompareCounts(what + ", files read", 3, result.filesRead),
          CompareCounts(what + ", chunks scanned", 3 * expected.chunks.size(), sink.chunks)}) {
        if (!failure.empty()) {
            return failure;
        }
    }
    return {};
}

// The bytes as a file: read back by ReadFileChunks, run twice in one run (the second copy
// adds nothing), and run once more as a stream.
std::string CheckFileAndStream(std::string_view bytes, const Expected& expected,
                               const std::string& label) {
    InMemoryFile file(bytes);
    if (!file.ok()) {
        return "could not make an in-memory file: " + file.error();
    }
    Strings chunks;
    try {
        chunks = ReadFileChunks(file.path());
    } catch (const FileReadError& error) {
        return "ReadFileChunks" + label + ": " + error.what();
    }
    std::string failure = CompareChunks("ReadFileChunks" + label, expected.chunks, chunks);
    if (!failure.empty()) {
        return failure;
    }

    RecordingSink fileSink;
    const RunResult fileResult = RunExtraction({file.path(), file.path()}, fileSink);
    failure =
        CheckRun("RunExtraction over the file twice" + label, fileResult, fileSink, expected, 2);
    if (!failure.empty()) {
        return failure;
    }

    RecordingSink streamSink;
    const RunResult streamResult = RunExtractionFrom(
        1, [&file](std::size_t) { return ChunkReader::FromStream(file.rewound(), "(memory)"); },
        streamSink);
    failure = CheckRun("RunExtractionFrom a stream" + label, streamResult, streamSink, expected, 1);
    return failure.empty() ? CheckParallelRun(file, expected, label) : failure;
}

// `length` bytes with no separator, no punctuation and no "@", different from place to
// place (a period of 251 bytes), so a chunk read from the wrong place shows.
std::string Filler(std::size_t length) {
    static const std::string_view letters = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string filler(length, ' ');
    for (std::size_t i = 0; i < length; ++i) {
        filler[i] = letters[(i % 251) % letters.size()];
    }
    return filler;
}

// True when the token, scanned alone as a chunk, is found whole: the scanner's own validation.
bool ScannerAccepts(std::string_view token) {
    SeenEmails seen;
    std::vector<std::string_view> found;
    ScanChunkForEmails(token, seen, found);
    return found.size() == 1 && found.front().size() == token.size();
}

bool EndsNoToken(std::string_view token) {
    for (char c : token) {
        if (HasFlag(static_cast<unsigned char>(c), EndsTokenByte)) {
            return false;
        }
    }
    return true;
}

// RE2's validator and the scanner against the reference pattern on every token that holds an
// "@" (no other token can match: the pattern asks for one). Unstripped tokens may hold
// punctuation: RE2 judges those too, the scanner only tokens it would not cut.
std::string CheckValidators(const Strings& tokens) {
    for (const std::string& token : tokens) {
        if (token.find('@') == std::string::npos) {
            continue;
        }
        const bool expected = reference::MatchesEmailPattern(token);
        const bool slow = IsValidEmail(token);
        const bool fast = EndsNoToken(token) ? ScannerAccepts(token) : expected;
        if (slow != expected || fast != expected) {
            return "validators on " + Quoted(token) + ": IsValidEmail " +
                   (slow ? "true" : "false") + ", the scanner " + (fast ? "true" : "false") +
                   ", the reference " + (expected ? "true" : "false");
        }
    }
    return {};
}

// SeenEmails takes any bytes; it must answer as a std::set of the lower-cased tokens would.
std::string CheckSeenSet(const Strings& tokens) {
    SeenEmails seen;
    reference::Run run;
    for (const std::string& token : tokens) {
        const bool expected = run.Remember(token);
        if (seen.InsertLowerCased(token) != expected) {
            return "SeenEmails on " + Quoted(token) + ": " +
                   (expected ? "taken as met before" : "taken as new");
        }
    }
    return CompareCounts("SeenEmails size", run.size(), seen.size());
}

// With lone LFs ending tokens (--lf), the scan gives what the reference gives on the same
// bytes with every LF turned into a space.
std::string CheckLoneLfEnds(std::string_view bytes) {
    std::string spaced(bytes);
    std::replace(spaced.begin(), spaced.end(), '\n', ' ');
    const std::string what = "ScanChunkForEmails with lone LFs ending tokens";
    SeenEmails seen;
    Strings found;
    std::vector<std::string_view> views;
    for (const std::string& chunk : reference::CutIntoChunks(bytes, orlenta::ChunkSize)) {
        ScanChunkForEmails(chunk, seen, views, LoneLf::EndsToken);
        const std::string failure = AppendViews(what, chunk, views, found);
        if (!failure.empty()) {
            return failure;
        }
    }
    return CompareLists(what, reference::ExtractAll(spaced, orlenta::ChunkSize), found);
}

std::string CheckTokens(std::string_view bytes) {
    Strings tokens;
    for (const std::string& chunk : reference::CutIntoChunks(bytes, orlenta::ChunkSize)) {
        for (const std::string& text : {reference::ReplacePunctuation(chunk), chunk}) {
            for (std::string& token : reference::SplitIntoTokens(text)) {
                tokens.push_back(std::move(token));
            }
        }
    }
    std::string failure = CheckValidators(tokens);
    return failure.empty() ? CheckSeenSet(tokens) : failure;
}

}  // namespace

std::string FindEngineDisagreement(std::string_view input) {
    const std::string_view bytes = input.substr(0, LongestCheckedInput);

    std::string failure = CheckTokens(bytes);
    if (!failure.empty()) {
        return failure;
    }

    const Expected whole = ReferenceFor(bytes, orlenta::ChunkSize);
    failure = CheckChunkByChunk(whole, "");
    if (failure.empty()) {
        failure = CheckLoneLfEnds(bytes);
    }
    if (!failure.empty()) {
        return failure;
    }
    failure = CheckFileAndStream(bytes, whole, "");
    if (!failure.empty() || bytes.empty()) {
        return failure;
    }

    // A third byte of 128 or more puts up to 254 KiB of filler before the bytes, so that files
    // run over several of the reader's reads and their borders. Most inputs skip this slower
    // part.
    const unsigned char fillerByte = bytes.size() > 2 ? static_cast<unsigned char>(bytes[2]) : 0;
    const std::size_t fillerLength =
        fillerByte >= 0x80 ? (fillerByte & 0x7F) * std::size_t(2048) : 0;
    if (fillerLength > 0) {
        const std::string longer = Filler(fillerLength) + std::string(bytes);
        failure = CheckFileAndStream(longer, ReferenceFor(longer, orlenta::ChunkSize),
                                     " (behind " + std::to_string(fillerLength) + " filler bytes)");
        if (!failure.empty()) {
            return failure;
        }
    }

    // The second byte picks where a scan of the first chunk is stopped.
    const std::size_t selector = bytes.size() > 1 ? static_cast<unsigned char>(bytes[1]) : 0;
    failure = CheckStoppedScan(whole.chunks.front(), selector);
    if (!failure.empty()) {
        return failure;
    }

    // The same chunk logic with small chunks, so that short inputs cross chunk borders.
    const std::size_t chunkSize = 1 + static_cast<unsigned char>(bytes[0]);
    const Expected small = ReferenceFor(bytes.substr(1, LongestSmallChunkInput), chunkSize);
    return CheckChunkByChunk(small, " (chunks of " + std::to_string(chunkSize) + " bytes)");
}

}  // namespace orlenta::fuzz
