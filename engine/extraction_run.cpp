#include "extraction_run.h"

#include "chunk_reader.h"
#include "chunk_scanner.h"
#include "seen_emails.h"

namespace orlenta {

namespace {

// One run: the set of addresses met lives exactly as long as this object.
class Run {
public:
    explicit Run(RunSink& sink) : sink_(sink) {
        onCandidate_ = [this] {
            if (!stopped_ && !sink_.yield(YieldPoint::BeforeCandidate)) {
                stopped_ = true;
            }
        };
    }

    // False when the sink asked to stop.
    bool readFile(const std::string& path) {
        ChunkReader reader(path);
        while (reader.ok()) {
            if (reader.nextIsFull() && !sink_.yield(YieldPoint::BeforeFullChunk)) {
                return false;
            }
            if (!reader.next(chunk_)) {
                break;
            }
            if (!scanChunk()) {
                return false;
            }
        }
        if (!reader.ok()) {
            result_.skipped.push_back({path, reader.error()});
            sink_.fileSkipped(path, reader.error());
        } else {
            ++result_.filesRead;
        }
        return true;
    }

    RunResult& result() { return result_; }

private:
    bool scanChunk() {
        ScanChunkForEmails(chunk_, seen_, found_, onCandidate_);
        if (stopped_) {
            return false;
        }
        sink_.chunkScanned();
        for (std::string_view address : found_) {
            if (!sink_.yield(YieldPoint::BeforeAppend)) {
                return false;
            }
            sink_.addressFound(address);
            ++result_.addressesFound;
        }
        sink_.chunkDone();
        return true;
    }

    RunSink& sink_;
    SeenEmails seen_;
    std::string chunk_;
    std::vector<std::string_view> found_;
    CandidateHook onCandidate_;
    bool stopped_ = false;
    RunResult result_;
};

}  // namespace

RunResult RunExtraction(std::size_t count, const std::function<std::string(std::size_t)>& pathAt,
                        RunSink& sink) {
    Run run(sink);
    for (std::size_t i = 0; i < count; ++i) {
        if (!sink.yield(YieldPoint::BeforeFile) || !run.readFile(pathAt(i))) {
            run.result().stopped = true;
            break;
        }
    }
    return std::move(run.result());
}

RunResult RunExtraction(const std::vector<std::string>& paths, RunSink& sink) {
    return RunExtraction(paths.size(), [&paths](std::size_t i) { return paths[i]; }, sink);
}

}  // namespace orlenta
