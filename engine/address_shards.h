#pragma once

#include "engine/seen_emails.h"
#include "engine/work_unit.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace orlenta {

// The set of addresses met in a parallel run, cut into shards by hash: every spelling of one
// address falls into one shard, so each shard can take the units strictly in text order on its
// own, and the first spelling it meets is the first in the text. Several shards fill at once,
// each on one worker at a time (the WorkBoard says whose turn it is). When `counting`, each
// shard's set also counts its addresses for a report (SeenEmails::Counted): the look-up that
// says whether an address is new finds its counts.
class AddressShards final {
public:
    explicit AddressShards(std::size_t shards, bool counting = false);

    std::size_t size() const { return count_; }

    // The shard of every spelling of the address of hash `hash`.
    std::size_t shardOf(std::uint64_t hash) const {
        // The low bits: the set itself files by the high ones.
        return static_cast<std::size_t>(hash & 0xFFFF) % count_;
    }

    // The worker that scanned `unit`: sorts its addresses' indexes by shard (Unit::byShard).
    void sortByShard(Unit& unit) const;

    // The worker whose turn it is in shard `shard` for `unit`: files the unit's addresses of
    // that shard into it, but those of dropped pieces, and writes their Unit::isNew. When the
    // set is `frozen`, the shard is only asked: an address it lacks is marked Unit::Spill.
    // When counting, it counts every occurrence but those marked Spill (which need the unit's
    // Unit::offsets and the pieces' source numbers).
    // Returns what the shard may hold once it has taken a few more such units
    // (SeenEmails::memoryPeakAfter). `scratch` is the worker's own, reused from call to call.
    struct Scratch {
        std::vector<std::string_view> addresses;
        std::vector<std::uint64_t> hashes;
        std::vector<Sighting> sightings;  // when counting
        std::unique_ptr<bool[]> isNew;
        std::size_t capacity = 0;
    };
    std::size_t take(Unit& unit, std::size_t shard, Scratch& scratch, bool frozen = false);

    // Frees every shard's set: the run is over, or the spill needs the room.
    void release();

    // When counting: the shards' sets, in shard order, once no worker fills them any more,
    // with their tables freed (SeenEmails::endLookups); their counts stay.
    std::vector<std::unique_ptr<SeenEmails>> takeCounts();

private:
    std::vector<std::unique_ptr<SeenEmails>> shards_;
    const std::size_t count_;
    const bool counting_;
};

}  // namespace orlenta
