#include "engine/address_spill.h"

#include "engine/seen_emails.h"

#include <queue>

#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>

namespace orlenta {

namespace {

constexpr std::size_t DefaultPartitions = 64;
constexpr std::size_t SmallestBlock = 4u << 10;
constexpr std::size_t LargestBlock = 256u << 10;

std::size_t BlockSizeFor(const MemoryBudget& budget) {
    if (budget.blockSize != 0) {
        return budget.blockSize;
    }
    const std::size_t share = budget.bytes / 1024 / SmallestBlock * SmallestBlock;
    return std::clamp(share, SmallestBlock, LargestBlock);
}

std::size_t PartitionsFor(const MemoryBudget& budget) {
    return budget.partitions != 0 ? budget.partitions : DefaultPartitions;
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
    // One block per partition being written, one for the run of survivors and one read.
    return (PartitionsFor(budget) + 2) * BlockSizeFor(budget);
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
      file_(blockSize_) {
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
    return static_cast<std::size_t>(Remix(hash, level) % partitions_);
}

void AddressSpill::add(std::string_view address, std::uint64_t hash) {
    writers_[partitionOf(hash, 0)].appendRecord(position_++, address.data(), address.size());
}

void AddressSpill::finish(const std::function<void(std::string_view)>& emit) {
    if (report_ != nullptr) {
        report_->spilled = position_;
    }
    std::vector<Pending> stack;
    for (ChainWriter& writer : writers_) {
        stack.push_back(Pending{writer.close(), 1});
    }
    writers_.clear();
    std::reverse(stack.begin(), stack.end());
    std::vector<Chain> runs;
    while (!stack.empty()) {
        const Pending pending = std::move(stack.back());
        stack.pop_back();
        if (pending.chain.bytes > 0) {
            deduplicate(pending, stack, runs);
        }
    }
    merge(runs, emit);
}

// One partition, in position order: a set takes its addresses while it stays within the
// budget; past that the set is frozen and what it lacks goes to partitions of the next level.
void AddressSpill::deduplicate(const Pending& pending, std::vector<Pending>& stack,
                               std::vector<Chain>& runs) {
    if (report_ != nullptr) {
        report_->deepestLevel = std::max(report_->deepestLevel, pending.level);
    }
    const std::size_t buffers = (partitions_ + 2) * blockSize_;
    const std::size_t forSet = bytes_ > buffers ? bytes_ - buffers : 0;

    SeenEmails seen;
    ChainWriter run(file_);
    std::vector<ChainWriter> next;
    // Records are taken a batch at a time, so the set's memory fetches for a batch overlap.
    constexpr std::size_t Batch = 64;
    std::uint64_t positions[Batch];
    std::uint64_t hashes[Batch];
    std::string_view views[Batch];
    bool answers[Batch];
    std::string addresses[Batch];
    {
        ChainReader reader(file_, pending.chain, blockSize_);
        bool frozen = false;
        for (;;) {
            std::size_t count = 0;
            std::size_t bytes = 0;
            while (count < Batch && reader.nextRecord(positions[count], addresses[count])) {
                views[count] = addresses[count];
                hashes[count] = HashLowerCased(views[count]);
                bytes += views[count].size();
                ++count;
            }
            if (count == 0) {
                break;
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
                    if (answers[i]) {
                        run.appendRecord(positions[i], views[i].data(), views[i].size());
                    }
                }
            } else {
                seen.ContainsLowerCased(views, count, answers, hashes);
                for (std::size_t i = 0; i < count; ++i) {
                    if (!answers[i]) {
                        next[partitionOf(hashes[i], pending.level)].appendRecord(
                            positions[i], views[i].data(), views[i].size());
                    }
                }
            }
        }
    }
    file_.release(pending.chain.blocks);
    if (Chain survivors = run.close(); survivors.bytes > 0) {
        runs.push_back(std::move(survivors));
    }
    for (ChainWriter& writer : next) {
        stack.push_back(Pending{writer.close(), pending.level + 1});
    }
}

// Runs are each in position order and no position is in two: a heap of their heads gives the
// survivors in text order.
void AddressSpill::merge(const std::vector<Chain>& runs,
                         const std::function<void(std::string_view)>& emit) {
    struct Head {
        std::uint64_t position;
        std::size_t run;
        bool operator>(const Head& other) const { return position > other.position; }
    };
    std::vector<std::unique_ptr<ChainReader>> readers;
    std::vector<std::string> addresses(runs.size());
    std::priority_queue<Head, std::vector<Head>, std::greater<Head>> heads;
    // The readers' buffers share what the partitions' took.
    const std::size_t share = std::max<std::size_t>(
        512, (partitions_ + 2) * blockSize_ / std::max<std::size_t>(1, runs.size()));
    for (std::size_t i = 0; i < runs.size(); ++i) {
        readers.push_back(std::make_unique<ChainReader>(file_, runs[i], share));
        std::uint64_t position = 0;
        if (readers[i]->nextRecord(position, addresses[i])) {
            heads.push(Head{position, i});
        }
    }
    while (!heads.empty()) {
        const Head head = heads.top();
        heads.pop();
        emit(addresses[head.run]);
        std::uint64_t position = 0;
        if (readers[head.run]->nextRecord(position, addresses[head.run])) {
            heads.push(Head{position, head.run});
        }
    }
}

}  // namespace orlenta
