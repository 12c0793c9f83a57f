#include "engine/address_spill.h"

#include "engine/seen_emails.h"

#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace orlenta {

namespace {

constexpr std::size_t DefaultPartitions = 64;
// A partition's number is a byte of the tape, and a verdict a byte too.
constexpr std::size_t MostPartitions = 254;

enum Verdict : unsigned char { Dropped = 0, Kept = 1, FirstPart = 2 };
constexpr std::size_t SmallestBlock = 4u << 10;
constexpr std::size_t MergeBuffer = 16u << 10;
constexpr std::size_t LargestBlock = 256u << 10;

std::size_t BlockSizeFor(const MemoryBudget& budget) {
    if (budget.blockSize != 0) {
        return budget.blockSize;
    }
    const std::size_t share = budget.bytes / 1024 / SmallestBlock * SmallestBlock;
    return std::clamp(share, SmallestBlock, LargestBlock);
}

std::size_t PartitionsFor(const MemoryBudget& budget) {
    return std::min(budget.partitions != 0 ? budget.partitions : DefaultPartitions, MostPartitions);
}

// Spreads the bits of a hash anew for each level, so a partition's addresses are split again
// by bits that did not choose it.
std::uint64_t Remix(std::uint64_t hash, unsigned level) {
    std::uint64_t x = hash + (level + 1) * 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

std::size_t AddressSpill::BuffersFor(const MemoryBudget& budget) {
    // One block per partition being written and one for the tape; at the end, one per part of
    // the next level, one for the verdicts and one read. Beside them, the blocks on their way
    // to the file.
    return (PartitionsFor(budget) + 2 + SpillFile::WritesInFlight) * BlockSizeFor(budget);
}

std::size_t AddressSpill::SetShareOf(const MemoryBudget& budget) {
    if (!budget.limited()) {
        return MemoryBudget::None;
    }
    const std::size_t buffers = BuffersFor(budget);
    return budget.bytes > buffers ? budget.bytes - buffers : 0;
}

AddressSpill::AddressSpill(const MemoryBudget& budget)
    : bytes_(budget.bytes),
      blockSize_(BlockSizeFor(budget)),
      partitions_(PartitionsFor(budget)),
      report_(budget.report),
      file_(blockSize_),
      tape_(file_) {
    writers_.reserve(partitions_);
    for (std::size_t i = 0; i < partitions_; ++i) {
        writers_.emplace_back(file_);
    }
    if (report_ != nullptr) {
        report_->frozen = true;
    }
}

AddressSpill::~AddressSpill() = default;

std::size_t AddressSpill::partitionOf(std::uint64_t hash, unsigned level) const {
    // The top 32 bits of the hash scaled to the partitions (at most 254): as even as a
    // remainder, without the division it would cost for every spilled record.
    return static_cast<std::size_t>(((Remix(hash, level) >> 32) * partitions_) >> 32);
}

void AddressSpill::add(std::string_view address, std::uint64_t hash) {
    const std::size_t partition = partitionOf(hash, 0);
    writers_[partition].appendRecord(address.data(), address.size());
    tape_.appendByte(static_cast<unsigned char>(partition));
    ++spilled_;
}

void AddressSpill::finish(const std::function<void(std::string_view)>& emit) {
    if (report_ != nullptr) {
        report_->spilled = spilled_;
    }
    const Chain tape = tape_.close();
    parts_.reserve(partitions_);
    for (ChainWriter& writer : writers_) {
        parts_.push_back(Part{writer.close(), {}, {}, 1});
    }
    writers_.clear();
    // One set for every part, emptied between them: its memory is reused, not faulted in and
    // zeroed again for each.
    SeenEmails seen;
    std::vector<std::size_t> pending;
    for (std::size_t i = partitions_; i-- > 0;) {
        pending.push_back(i);
    }
    while (!pending.empty()) {
        const std::size_t index = pending.back();
        pending.pop_back();
        if (parts_[index].records.bytes > 0) {
            deduplicate(index, seen, pending);
        }
    }
    merge(tape, emit);
}

// One part, in text order: a set takes its addresses while it stays within the budget; past
// that the set is frozen and what it lacks goes to parts of the next level. Each record gets
// its verdict.
void AddressSpill::deduplicate(std::size_t index, SeenEmails& seen,
                               std::vector<std::size_t>& pending) {
    const unsigned level = parts_[index].level;
    if (report_ != nullptr) {
        report_->deepestLevel = std::max(report_->deepestLevel, level);
    }
    const std::size_t buffers = (partitions_ + 2 + SpillFile::WritesInFlight) * blockSize_;
    const std::size_t forSet = bytes_ > buffers ? bytes_ - buffers : 0;

    seen.clear();
    ChainWriter verdicts(file_);
    std::vector<ChainWriter> next;
    // Records are taken a batch at a time, so the set's memory fetches for a batch overlap.
    constexpr std::size_t Batch = 64;
    std::uint64_t hashes[Batch];
    std::string_view views[Batch];
    bool answers[Batch];
    std::string spare;
    const Chain records = std::move(parts_[index].records);
    {
        ChainReader reader(file_, records, blockSize_);
        bool frozen = false;
        for (;;) {
            const std::size_t count = reader.nextRecords(views, Batch, spare);
            if (count == 0) {
                break;
            }
            std::size_t bytes = 0;
            for (std::size_t i = 0; i < count; ++i) {
                hashes[i] = HashLowerCased(views[i]);
                bytes += views[i].size();
            }
            // The set takes at least one batch: each level then settles some addresses, and
            // the splitting ends.
            if (!frozen && seen.size() > 0 && seen.memoryPeakAfter(count, bytes) > forSet) {
                frozen = true;
                next.reserve(partitions_);
                for (std::size_t i = 0; i < partitions_; ++i) {
                    next.emplace_back(file_);
                }
            }
            if (!frozen) {
                seen.InsertLowerCased(views, count, answers, hashes);
                for (std::size_t i = 0; i < count; ++i) {
                    verdicts.appendByte(answers[i] ? Kept : Dropped);
                }
            } else {
                seen.ContainsLowerCased(views, count, answers, hashes);
                for (std::size_t i = 0; i < count; ++i) {
                    if (answers[i]) {
                        verdicts.appendByte(Dropped);
                        continue;
                    }
                    const std::size_t part = partitionOf(hashes[i], level);
                    next[part].appendRecord(views[i].data(), views[i].size());
                    verdicts.appendByte(static_cast<unsigned char>(FirstPart + part));
                }
            }
        }
    }
    // The partitions' records are read again by the merge; a split part's are not.
    if (level > 1) {
        file_.release(records.blocks);
    } else {
        parts_[index].records = records;
    }
    parts_[index].verdicts = verdicts.close();
    for (ChainWriter& writer : next) {
        parts_[index].parts.push_back(parts_.size());
        parts_.push_back(Part{writer.close(), {}, {}, level + 1});
    }
    for (auto part = parts_[index].parts.rbegin(); part != parts_[index].parts.rend(); ++part) {
        pending.push_back(*part);
    }
}

// The tape gives the partition of each spilled occurrence in text order: its next record,
// whose verdict (followed down the parts that split it) says whether it is a first spelling.
void AddressSpill::merge(const Chain& tape, const std::function<void(std::string_view)>& emit) {
    std::size_t readerCount = 1 + partitions_;
    for (const Part& part : parts_) {
        readerCount += part.verdicts.bytes > 0 ? 1 : 0;
    }
    // The readers' buffers share what the partitions' took, and take no more than
    // MergeBuffer each: the merge takes from every reader in turn, so their buffers are only
    // fast while they stay in the cache together.
    const std::size_t share =
        std::clamp<std::size_t>((partitions_ + 2) * blockSize_ / readerCount, 512, MergeBuffer);
    // Nothing is read twice here: each block's pages go as soon as it is read, so the output's
    // pages are made of them rather than pressed out of the rest of memory (a spill of 5 GB
    // merged in a third of the time for it).
    constexpr auto once = ChainReader::ReadAgain::No;
    ChainReader order(file_, tape, share, once);
    std::vector<std::unique_ptr<ChainReader>> records;
    std::vector<std::unique_ptr<ChainReader>> verdicts;
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        if (i < partitions_) {
            records.push_back(std::make_unique<ChainReader>(file_, parts_[i].records, share, once));
        }
        verdicts.push_back(
            parts_[i].verdicts.bytes > 0
                ? std::make_unique<ChainReader>(file_, parts_[i].verdicts, share, once)
                : nullptr);
    }
    const auto damaged = [] { throw std::runtime_error("temporary file: a record cut short"); };
    std::string spare;
    unsigned char partition = 0;
    while (order.nextByte(partition)) {
        std::string_view address;
        if (partition >= partitions_ || records[partition]->nextRecords(&address, 1, spare) != 1) {
            damaged();
        }
        std::size_t index = partition;
        unsigned char verdict = Dropped;
        for (;;) {
            if (!verdicts[index] || !verdicts[index]->nextByte(verdict)) {
                damaged();
            }
            if (verdict < FirstPart) {
                break;
            }
            const std::size_t part = verdict - FirstPart;
            if (part >= parts_[index].parts.size()) {
                damaged();
            }
            index = parts_[index].parts[part];
        }
        if (verdict == Kept) {
            emit(address);
        }
    }
}

}  // namespace orlenta
