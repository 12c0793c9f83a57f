#pragma once

#include "engine/memory_budget.h"
#include "engine/spill_file.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace orlenta {

class SeenEmails;

// The addresses a run meets once its set is frozen (engine/memory_budget.h) and that the
// frozen set does not hold: each occurrence, in text order. They go to partitions by hash, in
// one temporary file (engine/spill_file.h), and a tape of one byte per occurrence names the
// partition each went to. At the end, with the frozen set freed, each partition is
// de-duplicated on its own, in text order, so the earliest spelling wins, and each record gets
// a verdict byte: kept or dropped. When a partition's set would pass the budget, that set is
// frozen in turn and the rest of the partition is split again by other bits of the hash, as
// often as needed; the verdict then names the part that decides. Last the tape is read again:
// each byte takes its partition's next record and verdict, and the first spellings come out in
// text order, none written to the file twice.
//
//   AddressSpill spill(budget);
//   for each address the frozen set lacks, in text order: spill.add(address, hash);
//   ... free the frozen set ...
//   spill.finish([](std::string_view firstSpelling) { ... });
class AddressSpill final {
public:
    explicit AddressSpill(const MemoryBudget& budget);
    ~AddressSpill();
    AddressSpill(const AddressSpill&) = delete;
    AddressSpill& operator=(const AddressSpill&) = delete;

    // What the spill's buffers take of a budget: the set before it is frozen gets the rest.
    static std::size_t BuffersFor(const MemoryBudget& budget);

    // What a run's set may hold before it is frozen: the budget less the spill's buffers;
    // MemoryBudget::None without a budget.
    static std::size_t SetShareOf(const MemoryBudget& budget);

    // `hash` is HashLowerCased(address).
    void add(std::string_view address, std::uint64_t hash);

    // Every address added whose spelling is the first of its kind, in the order added. Called
    // once.
    void finish(const std::function<void(std::string_view)>& emit);

private:
    // A partition, or a part of one split again: its records, and a verdict for each.
    struct Part {
        Chain records;                   // a split part's are dropped once it is decided
        Chain verdicts;                  // Kept, Dropped or FirstPart + the part deciding it
        std::vector<std::size_t> parts;  // where the records a frozen set lacked went
        unsigned level = 1;
    };

    std::size_t partitionOf(std::uint64_t hash, unsigned level) const;
    void deduplicate(std::size_t index, SeenEmails& seen, std::vector<std::size_t>& pending);
    void merge(const Chain& tape, const std::function<void(std::string_view)>& emit);

    const std::size_t bytes_;
    const std::size_t blockSize_;
    const std::size_t partitions_;
    MemoryBudget::Report* const report_;
    SpillFile file_;
    std::vector<ChainWriter> writers_;
    ChainWriter tape_;
    std::uint64_t spilled_ = 0;
    std::vector<Part> parts_;  // the partitions first, in their order
};

}  // namespace orlenta
