#pragma once

#include "engine/address_counts.h"
#include "engine/chunk_reader.h"
#include "engine/chunk_scanner.h"
#include "engine/memory_budget.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta {

// Where a run hands control back to its caller (the window yields to its event loop there).
enum class YieldPoint {
    BeforeFile,       // before each source file is opened
    BeforeFullChunk,  // before each full chunk of a file is read (never before a shorter last one)
    BeforeCandidate,  // before each candidate token is validated
    BeforeAppend,     // before each new address is handed on
};

// One occurrence of an address in the text, for RunSink::occurrencesFound.
struct Occurrence {
    std::string_view address;  // as written there
    std::uint64_t offset;      // in bytes from the start of its source
    std::uint64_t hash;        // HashLowerCased(address) (engine/seen_emails.h)
    bool isNew;                // its first occurrence in the run: addressFound gets it
};

// Receives what a run produces, in order, and decides whether it goes on. Every method has an
// empty default but addressFound.
class RunSink {
public:
    virtual ~RunSink() = default;

    // Return false to stop the run at once: no further file is read, no further address is
    // handed on.
    virtual bool yield(YieldPoint) { return true; }

    // A chunk of `size` bytes has been read; its scan comes next.
    virtual void chunkRead(std::size_t size) { (void)size; }

    // A chunk has been scanned; its addresses (possibly none) follow, then chunkDone().
    virtual void chunkScanned() {}
    virtual void addressFound(std::string_view address) = 0;
    virtual void chunkDone() {}

    // Every occurrence of an address, new or met before, with where it stands: for a report of
    // counts and first places. Asked once as the run starts; false, the default, spares the run
    // all of it. When true, the run calls sourceStarted() as each source begins (after its
    // BeforeFile yield, before its chunks; a source that cannot be read too), and after the
    // chunkScanned() of each chunk holding addresses gives them all to occurrencesFound(), in
    // text order, with their byte offsets from the start of their source (of the bytes the
    // reader gives: the file's for a plain file); then come the chunk's new addresses to
    // addressFound() as always. The one-thread and the parallel run make the same calls.
    // BeforeCandidate is not asked then.
    //   sourceStarted("a.txt"); chunkScanned(); occurrencesFound({"Ann@x.org", 17, h, true},
    //   {"ann@X.org", 90, h, false}); addressFound("Ann@x.org"); chunkDone()
    virtual bool wantsOccurrences() { return false; }
    virtual void sourceStarted(const std::string& name) { (void)name; }
    virtual void occurrencesFound(const Occurrence* occurrences, std::size_t count) {
        (void)occurrences;
        (void)count;
    }

    // A sink that wants the occurrences only to count them may take the run's own counts
    // instead (engine/address_counts.h): true here, and the run counts beside its set (on the
    // workers of a parallel run) every occurrence the set can place, hands occurrencesFound()
    // only the others (those its set, frozen past a memory budget, lacks: none without a
    // budget), and gives the counts to countsFound() once every occurrence is counted, before
    // the addresses held back by the budget come. sourceStarted() is called as ever. Asked
    // once as the run starts, with wantsOccurrences().
    virtual bool takesCounts() { return false; }
    virtual void countsFound(AddressCounts counts) { (void)counts; }

    // A source that could not be read, with the reason; the run goes on with the next one. A
    // read error in the middle of a file comes after the addresses of its earlier chunks.
    virtual void fileSkipped(const std::string& path, const std::string& reason) {
        (void)path;
        (void)reason;
    }
};

struct SkippedFile {
    std::string path;
    std::string reason;
};

struct RunResult {
    std::size_t filesRead = 0;
    std::size_t addressesFound = 0;
    std::vector<SkippedFile> skipped;
    bool stopped = false;  // the sink asked to stop before the end
};

// The extraction run over `count` source paths. Each path is fetched by position just before
// it is read (`pathAt(i)`, i from 0 to count - 1), so a list reordered during the run is read
// as it stands then. Every address not met before in this run (compared without regard to
// case) goes to sink.addressFound, written as at its first occurrence. Memory stays bounded
// whatever the file sizes: one chunk is held at a time.
RunResult RunExtraction(std::size_t count, const std::function<std::string(std::size_t)>& pathAt,
                        RunSink& sink);

// The same over a fixed list of paths.
RunResult RunExtraction(const std::vector<std::string>& paths, RunSink& sink);

// The same over sources that are not all paths (standard input, for one): `openAt(i)` gives
// the reader of source i, just before it is read, and its name() is what fileSkipped reports.
// `loneLf` says whether a lone LF ends a token (see LoneLf); the window keeps the default.
//
// With a `budget` (engine/memory_budget.h) the set stops growing at a chunk's edge once it
// would pass it; the addresses found after that which the set lacks come at the end of the
// run, after the last chunkDone() and fileSkipped(), in text order: the addressFound calls
// (and the counts) are the same as without a budget. The yields before them are not asked.
// A temporary file that cannot be written throws std::runtime_error. For orlenta-extract.
using SourceOpener = std::function<ChunkReader(std::size_t)>;
RunResult RunExtractionFrom(std::size_t count, const SourceOpener& openAt, RunSink& sink,
                            LoneLf loneLf = LoneLf::Ordinary, const MemoryBudget& budget = {});

}  // namespace orlenta
