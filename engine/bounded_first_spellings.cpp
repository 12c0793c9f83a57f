#include "engine/bounded_first_spellings.h"

#include <utility>

namespace orlenta {

BoundedFirstSpellings::BoundedFirstSpellings(const MemoryBudget& budget, Emit emit)
    : budget_(budget),
      forSet_(AddressSpill::SetShareOf(budget)),
      emit_(std::move(emit)),
      seen_(std::make_unique<SeenEmails>()) {}

BoundedFirstSpellings::~BoundedFirstSpellings() = default;

void BoundedFirstSpellings::add(std::string_view address) {
    if (!spill_ && forSet_ != MemoryBudget::None &&
        seen_->memoryPeakAfter(1, address.size()) > forSet_) {
        spill_ = std::make_unique<AddressSpill>(budget_);
    }
    if (!spill_) {
        if (seen_->InsertLowerCased(address)) {
            emit_(address);
            ++emitted_;
        }
        return;
    }
    const std::uint64_t hash = HashLowerCased(address);
    if (!seen_->ContainsLowerCased(address, hash)) {
        spill_->add(address, hash);
    }
}

void BoundedFirstSpellings::finish() {
    if (!spill_) {
        return;
    }
    seen_.reset();  // the frozen set makes room for the partitions' sets
    spill_->finish([this](std::string_view address) {
        emit_(address);
        ++emitted_;
    });
    spill_.reset();
}

}  // namespace orlenta
