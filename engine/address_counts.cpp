#include "engine/address_counts.h"

#include <algorithm>

namespace orlenta {

void AddressCounts::rowMade(std::size_t shard, std::uint64_t source,
                            const std::string& sourceName) {
    if (names_.empty() || names_.back().first != source) {
        names_.emplace_back(source, sourceName);
    }
    if (shard >= made_.size()) {
        made_.resize(shard + 1, 0);
    }
    numbers_.push_back(made_[shard]);
    shardOf_.push_back(static_cast<std::uint8_t>(shard));
    ++made_[shard];
}

AddressCounts::Row AddressCounts::row(std::size_t index) const {
    const SeenEmails::CountedAddress counted = shards_[shardOf_[index]]->counted(numbers_[index]);
    const AddressTally& tally = counted.tally;
    // The names are in the order of their numbers: the last one at or before the row's first
    // source is its name.
    const auto named = std::upper_bound(
        names_.begin(), names_.end(), tally.firstSource,
        [](std::uint64_t source, const auto& name) { return source < name.first; });
    return Row{counted.firstSpelling, tally.occurrences,
               tally.sources,         static_cast<std::size_t>(named - names_.begin()) - 1,
               tally.offset,          tally.lastSource};
}

}  // namespace orlenta
