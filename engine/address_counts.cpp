#include "engine/address_counts.h"

#include <algorithm>
#include <cstring>

namespace orlenta {

namespace {

constexpr std::size_t BlockBytes = 1 << 20;

}  // namespace

void ShardCounts::added(std::uint32_t number, std::string_view spelling, std::uint64_t source,
                        std::uint64_t offset) {
    if (number % EntriesPerBlock == 0) {
        entries_.push_back(std::unique_ptr<Entry[]>(new Entry[EntriesPerBlock]));
    }
    if (spelling.size() > blockLeft_) {
        const std::size_t size = std::max(BlockBytes, spelling.size());
        blocks_.push_back(std::unique_ptr<char[]>(new char[size]));
        blockAt_ = blocks_.back().get();
        blockLeft_ = size;
    }
    std::memcpy(blockAt_, spelling.data(), spelling.size());
    at(number) =
        Entry{blockAt_, static_cast<std::uint32_t>(spelling.size()), 1, 1, source, source, offset};
    blockAt_ += spelling.size();
    blockLeft_ -= spelling.size();
}

AddressCounts::Row AddressCounts::row(std::size_t index) const {
    const std::uint64_t reference = order_[index];
    const ShardCounts::Entry& entry =
        shards_[reference >> 32].at(static_cast<std::uint32_t>(reference));
    // The names are in the order of their numbers: the last one at or before the row's first
    // source is its name.
    const auto named = std::upper_bound(
        names_.begin(), names_.end(), entry.firstSource,
        [](std::uint64_t number, const auto& name) { return number < name.first; });
    return Row{
        std::string_view(entry.text, entry.length),           entry.occurrences, entry.sources,
        static_cast<std::size_t>(named - names_.begin()) - 1, entry.offset,      entry.lastSource};
}

}  // namespace orlenta
