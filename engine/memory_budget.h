#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace orlenta {

// What a run may keep in memory for its set of addresses, and what it does past that: the set
// stops growing (it is frozen), the addresses it does not hold go to a temporary file, split by
// hash into partitions, and are de-duplicated there at the end, partition by partition, then
// merged back in text order (engine/address_spill.h). The output is the same either way.
//
//   MemoryBudget budget;
//   budget.bytes = 64u << 20;             // --memory 64M
//   RunExtractionFrom(count, openAt, sink, LoneLf::Ordinary, budget);
//
// The default is no budget: the set grows as long as memory lasts (the window's run).
struct MemoryBudget {
    static constexpr std::size_t None = std::numeric_limits<std::size_t>::max();

    // The set, the spill's buffers and the de-duplication at the end stay within this.
    std::size_t bytes = None;

    // For the tests: the spill's blocks and partitions, 0 for the sizes chosen from `bytes`.
    // Small blocks and few partitions reach records cut across blocks and partitions split
    // again with little data.
    std::size_t blockSize = 0;
    std::size_t partitions = 0;

    // For the tests: when not null, filled with what the spill did.
    struct Report {
        bool frozen = false;        // the set was frozen
        std::uint64_t spilled = 0;  // occurrences written to the temporary file
        unsigned deepestLevel = 0;  // 1: partitions de-duplicated; 2 or more: split again
    };
    Report* report = nullptr;

    bool limited() const { return bytes != None; }
};

// Half of the physical memory: the default budget of orlenta-extract.
std::size_t HalfOfPhysicalMemory();

}  // namespace orlenta
