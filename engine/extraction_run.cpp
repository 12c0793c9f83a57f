#include "engine/extraction_run.h"

#include "engine/chunk_scanner.h"
#include "engine/seen_emails.h"

namespace orlenta {

namespace {

// One run: the set of addresses met lives exactly as long as this object.
class Run final : public CandidateGate {
public:
    Run(RunSink& sink, LoneLf loneLf) : sink_(sink), loneLf_(loneLf) {}

    // False when the sink asked to stop.
    // A source made of members (an archive's) is read member by member, each as a source.
    bool read(ChunkReader reader) {
        do {
            while (reader.ok()) {
                if (reader.nextIsFull() && !sink_.yield(YieldPoint::BeforeFullChunk)) {
                    return false;
                }
                if (!reader.next(chunk_)) {
                    break;
                }
                sink_.chunkRead(chunk_.size());
                if (!scanChunk()) {
                    return false;
                }
            }
            if (!reader.ok()) {
                result_.skipped.push_back({reader.name(), reader.error()});
                sink_.fileSkipped(reader.name(), reader.error());
            } else {
                ++result_.filesRead;
            }
        } while (reader.nextSource());
        return true;
    }

    bool mayGoOn() override { return sink_.yield(YieldPoint::BeforeCandidate); }

    RunResult& result() { return result_; }

private:
    bool scanChunk() {
        if (!ScanChunkForEmails(chunk_, seen_, found_, *this, loneLf_)) {
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
    const LoneLf loneLf_;
    SeenEmails seen_;
    std::string_view chunk_;
    std::vector<std::string_view> found_;
    RunResult result_;
};

}  // namespace

RunResult RunExtractionFrom(std::size_t count, const SourceOpener& openAt, RunSink& sink,
                            LoneLf loneLf) {
    Run run(sink, loneLf);
    for (std::size_t i = 0; i < count; ++i) {
        if (!sink.yield(YieldPoint::BeforeFile) || !run.read(openAt(i))) {
            run.result().stopped = true;
            break;
        }
    }
    return std::move(run.result());
}

RunResult RunExtraction(std::size_t count, const std::function<std::string(std::size_t)>& pathAt,
                        RunSink& sink) {
    return RunExtractionFrom(
        count, [&pathAt](std::size_t i) { return ChunkReader(pathAt(i)); }, sink);
}

RunResult RunExtraction(const std::vector<std::string>& paths, RunSink& sink) {
    return RunExtraction(
        paths.size(), [&paths](std::size_t i) { return paths[i]; }, sink);
}

}  // namespace orlenta
