#include "engine/extraction_run.h"

#include "engine/address_counts.h"
#include "engine/address_spill.h"
#include "engine/chunk_scanner.h"
#include "engine/seen_emails.h"

#include <memory>

namespace orlenta {

namespace {

// One run: the set of addresses met lives exactly as long as this object.
class Run final : public CandidateGate {
public:
    Run(RunSink& sink, LoneLf loneLf, const MemoryBudget& budget)
        : sink_(sink),
          loneLf_(loneLf),
          occurrences_(sink.wantsOccurrences()),
          counting_(occurrences_ && sink.takesCounts()),
          budget_(budget),
          forSet_(AddressSpill::SetShareOf(budget)),
          seen_(counting_ ? std::make_unique<SeenEmails>(SeenEmails::Counted)
                          : std::make_unique<SeenEmails>()) {}

    // False when the sink asked to stop.
    // A source made of members (an archive's) is read member by member, each as a source.
    bool read(ChunkReader reader) {
        do {
            sourceOffset_ = 0;
            if (occurrences_) {
                sink_.sourceStarted(reader.name());
                ++sourceNumber_;
                currentName_ = reader.name();
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
                sourceOffset_ += chunk_.size();
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

    // The counts, then the addresses held back by a frozen set, in text order.
    void finish() {
        if (counting_) {
            seen_->endLookups();
            std::vector<std::unique_ptr<SeenEmails>> sets;
            sets.push_back(std::move(seen_));
            counts_.takeShards(std::move(sets));
            sink_.countsFound(std::move(counts_));
        }
        if (!spill_) {
            return;
        }
        seen_.reset();  // the frozen set makes room for the partitions' sets
        spill_->finish([this](std::string_view address) {
            sink_.addressFound(address);
            ++result_.addressesFound;
        });
        spill_.reset();
    }

private:
    // A chunk holds one address per 5 bytes at most ("a@b.c" and a separator make 6).
    void freezeWhenFull() {
        if (!spill_ && forSet_ != MemoryBudget::None &&
            seen_->memoryPeakAfter(chunk_.size() / 5 + 1, chunk_.size()) > forSet_) {
            spill_ = std::make_unique<AddressSpill>(budget_);
        }
    }

    // Past the freeze: the set is only asked, and what it lacks is spilled.
    void spillChunk() {
        found_.clear();
        FindAddresses(chunk_, found_, loneLf_);
        hashes_.clear();
        for (std::string_view address : found_) {
            hashes_.push_back(HashLowerCased(address));
        }
        if (knownCapacity_ < found_.size()) {
            knownCapacity_ = found_.size();
            known_.reset(new bool[knownCapacity_]);
        }
        // Looked up together, their memory fetches overlap.
        if (counting_) {
            seeAt(found_);
            seen_->ContainsCounting(found_.data(), found_.size(), known_.get(), hashes_.data(),
                                    sightings_.data());
        } else {
            seen_->ContainsLowerCased(found_.data(), found_.size(), known_.get(), hashes_.data());
        }
        for (std::size_t i = 0; i < found_.size(); ++i) {
            if (!known_[i]) {
                spill_->add(found_[i], hashes_[i]);
            }
        }
        sink_.chunkScanned();
        if (occurrences_) {
            // None is known to be new yet: the report looks each up itself, but those a
            // counting set counted.
            handOnOccurrences(found_, nullptr, counting_ ? known_.get() : nullptr);
        }
        sink_.chunkDone();
    }

    bool scanChunk() {
        freezeWhenFull();
        if (spill_) {
            spillChunk();
            return true;
        }
        if (occurrences_) {
            scanEveryOccurrence();
        } else if (!ScanChunkForEmails(chunk_, *seen_, found_, *this, loneLf_)) {
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
        if (!counting_) {
            seen_->InsertLowerCased(all_.data(), count, isNew_.get(), hashes_.data());
        } else {
            seeAt(all_);
            seen_->InsertCounting(all_.data(), count, isNew_.get(), hashes_.data(),
                                  sightings_.data());
        }
        sink_.chunkScanned();
        found_.clear();
        for (std::size_t i = 0; i < count; ++i) {
            if (isNew_[i]) {
                found_.push_back(all_[i]);
            }
        }
        if (!counting_) {
            handOnOccurrences(all_, isNew_.get());
            return;
        }
        for (std::size_t i = 0; i < found_.size(); ++i) {
            counts_.rowMade(0, sourceNumber_, currentName_);
        }
    }

    // Where each of the chunk's `addresses` is, for a counting set.
    void seeAt(const std::vector<std::string_view>& addresses) {
        sightings_.clear();
        for (std::string_view address : addresses) {
            sightings_.push_back(Sighting{
                sourceNumber_,
                sourceOffset_ + static_cast<std::uint64_t>(address.data() - chunk_.data())});
        }
    }

    // The chunk's occurrences to the sink, `hashes_` holding theirs; isNew null: none new;
    // those `counted` (when given) are left out.
    void handOnOccurrences(const std::vector<std::string_view>& addresses, const bool* isNew,
                           const bool* counted = nullptr) {
        occurrenceList_.clear();
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            if (counted != nullptr && counted[i]) {
                continue;
            }
            occurrenceList_.push_back(
                Occurrence{addresses[i], sourceOffset_ + (addresses[i].data() - chunk_.data()),
                           hashes_[i], isNew != nullptr && isNew[i]});
        }
        if (!occurrenceList_.empty()) {
            sink_.occurrencesFound(occurrenceList_.data(), occurrenceList_.size());
        }
    }

    RunSink& sink_;
    const LoneLf loneLf_;
    const bool occurrences_;
    // The sink takes the set's counts: it counts every occurrence it holds, and only those
    // spilled past a frozen set are handed on.
    const bool counting_;
    const MemoryBudget budget_;
    const std::size_t forSet_;  // what the set may hold before it is frozen
    std::unique_ptr<SeenEmails> seen_;
    std::unique_ptr<AddressSpill> spill_;  // once the set is frozen
    std::uint64_t sourceOffset_ = 0;       // of chunk_ in its source
    std::vector<std::string_view> all_;
    std::vector<Occurrence> occurrenceList_;
    std::unique_ptr<bool[]> isNew_;
    std::size_t isNewCapacity_ = 0;
    std::string_view chunk_;
    std::vector<std::string_view> found_;
    std::vector<std::uint64_t> hashes_;  // of the chunk's addresses (all_, or found_ once frozen)
    std::unique_ptr<bool[]> known_;      // of found_: in the frozen set
    std::size_t knownCapacity_ = 0;
    // When counting: the current source's number (from 1) and name, and where each of a
    // chunk's addresses was met.
    std::uint64_t sourceNumber_ = 0;
    std::string currentName_;
    std::vector<Sighting> sightings_;
    AddressCounts counts_;
    RunResult result_;
};

}  // namespace

RunResult RunExtractionFrom(std::size_t count, const SourceOpener& openAt, RunSink& sink,
                            LoneLf loneLf, const MemoryBudget& budget) {
    Run run(sink, loneLf, budget);
    for (std::size_t i = 0; i < count; ++i) {
        if (!sink.yield(YieldPoint::BeforeFile) || !run.read(openAt(i))) {
            run.result().stopped = true;
            break;
        }
    }
    if (!run.result().stopped) {
        run.finish();
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
