#pragma once

#include "engine/address_spill.h"
#include "engine/memory_budget.h"
#include "engine/seen_emails.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

namespace orlenta {

// The first spelling of each address (compared without regard to case) among addresses given
// in order, within a memory budget: while its set fits, each new address is handed on at once;
// past that the rest goes through a spill (engine/address_spill.h) and comes out at finish(),
// still in order. What comes out is the same for every budget.
//
//   BoundedFirstSpellings firsts(budget, [&](std::string_view a) { writer.add(a); });
//   for (...) firsts.add(address);
//   firsts.finish();
//
// Failures throw: std::runtime_error("temporary file: ...") when the temporary file cannot be
// written (a full disk), std::bad_alloc when memory runs out.
class BoundedFirstSpellings final {
public:
    using Emit = std::function<void(std::string_view)>;

    BoundedFirstSpellings(const MemoryBudget& budget, Emit emit);
    ~BoundedFirstSpellings();

    void add(std::string_view address);

    // Hands on the rest; called once, after the last add().
    void finish();

    // Addresses handed on so far.
    std::size_t emitted() const { return emitted_; }

private:
    const MemoryBudget budget_;
    const std::size_t forSet_;
    Emit emit_;
    std::unique_ptr<SeenEmails> seen_;
    std::unique_ptr<AddressSpill> spill_;
    std::size_t emitted_ = 0;
};

}  // namespace orlenta
