#include "engine/extraction_run.h"

#include "engine/chunk_scanner.h"
#include "engine/seen_emails.h"

#include <memory>

namespace orlenta {

namespace {

// One run: the set of addresses met lives exactly as long as this object.
class Run final : public CandidateGate {
public:
    Run(RunSink& sink, LoneLf loneLf)
        : sink_(sink), loneLf_(loneLf), occurrences_(sink.wantsOccurrences()) {}

    // False when the sink asked to stop.
    bool read(ChunkReader reader) {
        if (occurrences_) {
            sink_.sourceStarted(reader.name());
            sourceOffset_ = 0;
        }
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
        return true;
    }

    bool mayGoOn() override { return sink_.yield(YieldPoint::BeforeCandidate); }

    RunResult& result() { return result_; }

private:
    bool scanChunk() {
        if (occurrences_) {
            scanEveryOccurrence();
        } else if (!ScanChunkForEmails(chunk_, seen_, found_, *this, loneLf_)) {
            return false;
        } else {
            sink_.chunkScanned();
        }
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

    // The scan the parallel run makes: every address of the chunk, then the set says which are
    // new. The same addresses as ScanChunkForEmails, without its candidate yields.
    void scanEveryOccurrence() {
        all_.clear();
        FindAddresses(chunk_, all_, loneLf_);
        const std::size_t count = all_.size();
        if (count > isNewCapacity_) {
            isNew_.reset(new bool[count]);
            isNewCapacity_ = count;
        }
        hashes_.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            hashes_[i] = HashLowerCased(all_[i]);
        }
        seen_.InsertLowerCased(all_.data(), count, isNew_.get(), hashes_.data());
        sink_.chunkScanned();
        found_.clear();
        occurrenceList_.clear();
        for (std::size_t i = 0; i < count; ++i) {
            occurrenceList_.push_back(Occurrence{
                all_[i], sourceOffset_ + (all_[i].data() - chunk_.data()), hashes_[i], isNew_[i]});
            if (isNew_[i]) {
                found_.push_back(all_[i]);
            }
        }
        if (count > 0) {
            sink_.occurrencesFound(occurrenceList_.data(), count);
        }
        sourceOffset_ += chunk_.size();
    }

    RunSink& sink_;
    const LoneLf loneLf_;
    const bool occurrences_;
    std::uint64_t sourceOffset_ = 0;  // of chunk_, with occurrences_
    std::vector<std::string_view> all_;
    std::vector<std::uint64_t> hashes_;
    std::vector<Occurrence> occurrenceList_;
    std::unique_ptr<bool[]> isNew_;
    std::size_t isNewCapacity_ = 0;
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
