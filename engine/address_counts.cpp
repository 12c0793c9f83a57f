#include "engine/address_counts.h"

#include <algorithm>
#include <cstring>

namespace orlenta {

namespace {

constexpr std::size_t BlockBytes = 1 << 20;

}  // namespace

void AddressCounts::rowMade(std::size_t shard, std::string_view spelling) {
    if (shard >= made_.size()) {
        made_.resize(shard + 1, 0);
    }
    if (spelling.size() > blockLeft_) {
        const std::size_t size = std::max(BlockBytes, spelling.size());
        blocks_.push_back(std::unique_ptr<char[]>(new char[size]));
        blockAt_ = blocks_.back().get();
        blockLeft_ = size;
    }
    std::memcpy(blockAt_, spelling.data(), spelling.size());
    rows_.push_back(Made{blockAt_, static_cast<std::uint32_t>(spelling.size()), made_[shard]});
    shardOf_.push_back(static_cast<std::uint8_t>(shard));
    ++made_[shard];
    blockAt_ += spelling.size();
    blockLeft_ -= spelling.size();
}

AddressCounts::Row AddressCounts::row(std::size_t index) const {
    const Made& made = rows_[index];
    const ShardCounts::Entry& entry = shards_[shardOf_[index]].at(made.number);
    // The names are in the order of their numbers: the last one at or before the row's first
    // source is its name.
    const auto named = std::upper_bound(
        names_.begin(), names_.end(), entry.firstSource,
        [](std::uint64_t number, const auto& name) { return number < name.first; });
    return Row{std::string_view(made.text, made.length),
               entry.occurrences,
               entry.sources,
               static_cast<std::size_t>(named - names_.begin()) - 1,
               entry.offset,
               entry.lastSource};
}

}  // namespace orlenta
