#include "results/address_list.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace orlenta {

namespace {

// Blocks grow from a page to this size, so a short list (a turn's few addresses) stays small.
constexpr std::size_t LargestBlock = 1024 * 1024;

}  // namespace

void AddressList::add(std::string_view address) {
    if (room_ < address.size()) {
        const std::size_t size = std::max(nextBlockSize_, address.size());
        blocks_.emplace_back(new char[size]);
        free_ = blocks_.back().get();
        room_ = size;
        nextBlockSize_ = std::min(2 * nextBlockSize_, LargestBlock);
    }
    std::memcpy(free_, address.data(), address.size());
    views_.emplace_back(free_, address.size());
    free_ += address.size();
    room_ -= address.size();
}

void AddressList::append(AddressList&& other) {
    // Room for the blocks first: once the views are in, taking the blocks cannot fail, so a
    // lack of memory never leaves views whose bytes went away with `other`.
    blocks_.reserve(blocks_.size() + other.blocks_.size());
    views_.insert(views_.end(), other.views_.begin(), other.views_.end());
    // The views stay valid: the blocks change hands, their bytes do not move. The new last
    // block's free end is the other list's, so later additions go on filling it.
    std::move(other.blocks_.begin(), other.blocks_.end(), std::back_inserter(blocks_));
    if (!other.blocks_.empty()) {
        free_ = other.free_;
        room_ = other.room_;
        nextBlockSize_ = std::max(nextBlockSize_, other.nextBlockSize_);
    }
    other = AddressList();
}

void AddressList::remove(std::size_t index) {
    views_.erase(views_.begin() + static_cast<std::ptrdiff_t>(index));
}

AddressSnapshot AddressList::snapshot() const {
    // Later additions write only into the unused end of the last block, never over a byte
    // viewed here, and a removal only drops a view: sharing the blocks is enough.
    AddressSnapshot snapshot;
    snapshot.views_.assign(views_.begin(), views_.end());
    snapshot.blocks_.assign(blocks_.begin(), blocks_.end());
    return snapshot;
}

AddressSnapshot::AddressSnapshot(std::initializer_list<std::string_view> addresses) {
    copy(addresses);
}

AddressSnapshot::AddressSnapshot(const Addresses& addresses) {
    copy(addresses);
}

template <typename Strings>
void AddressSnapshot::copy(const Strings& addresses) {
    AddressList list;
    for (const auto& address : addresses) {
        list.add(address);
    }
    *this = list.snapshot();
}

}  // namespace orlenta
