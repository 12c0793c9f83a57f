#pragma once

#include "engine/seen_emails.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orlenta {

// The counts of every address of a parallel run, for orlenta-extract --report. The shards'
// counting sets (SeenEmails::Counted) hold each address's first spelling and counts, filled by
// whichever worker has the shard's turn: the units come strictly in text order, so the first
// occurrence is met first and the sources one after the other. This reads them in the order
// of the output (the order the run handed the new addresses on): the calling thread of the run
// says which shard and source each new address came from as it hands it on.
//   counts.rowMade(shard, 3, "a.txt");  // one new address, the next of its shard, in source 3
//   ... counts.takeShards(sets) once every worker is done; then row(0), row(1), ...
class AddressCounts final {
public:
    struct Row {
        std::string_view address;
        std::uint64_t occurrences;
        std::uint64_t sources;
        std::size_t firstSource;  // in sourceName()
        std::uint64_t offset;
        std::uint64_t lastSource;  // its number
    };

    AddressCounts() = default;
    AddressCounts(AddressCounts&&) = default;
    AddressCounts& operator=(AddressCounts&&) = default;

    // Sources come in the order of their numbers; a source's name is kept with its first row.
    void rowMade(std::size_t shard, std::uint64_t source, const std::string& sourceName);
    // The shards' sets, their look-ups over (SeenEmails::endLookups).
    void takeShards(std::vector<std::unique_ptr<SeenEmails>> shards) {
        shards_ = std::move(shards);
    }

    std::size_t size() const { return numbers_.size(); }
    Row row(std::size_t index) const;
    // Brings row `index` into the cache: rows read in order are fetched a few ahead.
    void prefetch(std::size_t index) const { shards_[shardOf_[index]]->prefetch(numbers_[index]); }

    std::size_t sourceCount() const { return names_.size(); }
    const std::string& sourceName(std::size_t index) const { return names_[index].second; }
    std::uint64_t sourceNumber(std::size_t index) const { return names_[index].first; }

private:
    std::vector<std::unique_ptr<SeenEmails>> shards_;
    std::vector<std::uint32_t> numbers_;  // of each row in its shard's set, in output order
    std::vector<std::uint8_t> shardOf_;   // of each row
    std::vector<std::uint32_t> made_;     // rows made per shard
    std::vector<std::pair<std::uint64_t, std::string>> names_;  // in the order of the numbers
};

}  // namespace orlenta
