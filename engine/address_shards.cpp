#include "engine/address_shards.h"

namespace orlenta {

namespace {

// Per address of the unit, in text order: the pieces whose addresses are not handed on.
class DroppedPieces final {
public:
    explicit DroppedPieces(const Unit& unit) : unit_(unit) {}

    // `index` grows from call to call.
    bool dropped(std::size_t index) {
        while (unit_.pieces[piece_].addressEnd <= index) {
            ++piece_;
            known_ = false;
        }
        if (!known_) {
            dropped_ = unit_.pieces[piece_].dropped();
            known_ = true;
        }
        return dropped_;
    }

    // The piece of the address last asked about.
    const Piece& piece() const { return unit_.pieces[piece_]; }

private:
    const Unit& unit_;
    std::size_t piece_ = 0;
    bool known_ = false;
    bool dropped_ = false;
};

}  // namespace

AddressShards::AddressShards(std::size_t shards, bool counting)
    : count_(shards), counting_(counting) {
    for (std::size_t i = 0; i < shards; ++i) {
        shards_.push_back(counting ? std::make_unique<SeenEmails>(SeenEmails::Counted)
                                   : std::make_unique<SeenEmails>());
    }
}

void AddressShards::sortByShard(Unit& unit) const {
    const std::size_t shards = count_;
    unit.shardStarts.assign(count_ + 1, 0);
    for (std::uint64_t hash : unit.hashes) {
        ++unit.shardStarts[shardOf(hash) + 1];
    }
    for (std::size_t s = 0; s < shards; ++s) {
        unit.shardStarts[s + 1] += unit.shardStarts[s];
    }
    unit.byShard.resize(unit.addresses.size());
    std::vector<std::size_t> fill(unit.shardStarts.begin(), unit.shardStarts.end() - 1);
    for (std::size_t i = 0; i < unit.addresses.size(); ++i) {
        unit.byShard[fill[shardOf(unit.hashes[i])]++] = i;
    }
    unit.isNew.assign(unit.addresses.size(), 0);
}

void AddressShards::release() {
    shards_.clear();
}

std::vector<std::unique_ptr<SeenEmails>> AddressShards::takeCounts() {
    for (const auto& set : shards_) {
        set->endLookups();
    }
    return std::move(shards_);
}

std::size_t AddressShards::take(Unit& unit, std::size_t shard, Scratch& scratch, bool frozen) {
    const std::size_t begin = unit.shardStarts[shard];
    const std::size_t end = unit.shardStarts[shard + 1];
    if (scratch.capacity < end - begin) {
        scratch.capacity = end - begin;
        scratch.isNew.reset(new bool[scratch.capacity]);
    }
    scratch.addresses.clear();
    scratch.hashes.clear();
    scratch.sightings.clear();
    DroppedPieces pieces(unit);
    for (std::size_t j = begin; j < end; ++j) {
        const std::size_t i = unit.byShard[j];
        if (!pieces.dropped(i)) {
            scratch.addresses.push_back(unit.addresses[i]);
            scratch.hashes.push_back(unit.hashes[i]);
            if (counting_) {
                const Piece& piece = pieces.piece();
                scratch.sightings.push_back(
                    Sighting{piece.sourceNumber, piece.sourceOffset + unit.offsets[i]});
            }
        }
    }
    SeenEmails& set = *shards_[shard];
    if (counting_) {
        if (frozen) {
            set.ContainsCounting(scratch.addresses.data(), scratch.addresses.size(),
                                 scratch.isNew.get(), scratch.hashes.data(),
                                 scratch.sightings.data());
        } else {
            set.InsertCounting(scratch.addresses.data(), scratch.addresses.size(),
                               scratch.isNew.get(), scratch.hashes.data(),
                               scratch.sightings.data());
        }
    } else if (frozen) {
        set.ContainsLowerCased(scratch.addresses.data(), scratch.addresses.size(),
                               scratch.isNew.get(), scratch.hashes.data());
    } else {
        set.InsertLowerCased(scratch.addresses.data(), scratch.addresses.size(),
                             scratch.isNew.get(), scratch.hashes.data());
    }
    std::size_t b = 0;
    std::size_t bytes = 0;
    DroppedPieces again(unit);
    for (std::size_t j = begin; j < end; ++j) {
        const std::size_t i = unit.byShard[j];
        if (!again.dropped(i)) {
            const bool answer = scratch.isNew[b];
            unit.isNew[i] =
                frozen ? (answer ? Unit::Seen : Unit::Spill) : (answer ? Unit::New : Unit::Seen);
            bytes += unit.addresses[i].size();
            ++b;
        }
    }
    // Shards take units at different paces, a few units apart: room for four more like this.
    return frozen ? 0 : set.memoryPeakAfter(4 * (end - begin) + 16, 4 * bytes + 1024);
}

}  // namespace orlenta
