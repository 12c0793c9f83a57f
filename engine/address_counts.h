#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orlenta {

// One shard's counts of its addresses for a report, filed by the address's number in the
// shard's numbered set (SeenEmails::Numbered), and filled by whichever worker has the shard's
// turn: the units come strictly in text order, so the first occurrence is met first and the
// sources one after the other.
//   counts.added(7, 3, 120);  // number 7 new in source 3 at byte 120
//   counts.met(7, 3);         // met again there: 2 occurrences, 1 source
class ShardCounts final {
public:
    struct Entry {
        std::uint64_t occurrences;
        std::uint64_t sources;
        std::uint64_t firstSource;  // numbered from 1 as sources start
        std::uint64_t lastSource;   // the last source it was met in
        std::uint64_t offset;       // of its first occurrence, in its first source
    };

    // `number` is the next one: the set numbers addresses in the order they are added.
    void added(std::uint32_t number, std::uint64_t source, std::uint64_t offset) {
        if (number % EntriesPerBlock == 0) {
            entries_.push_back(std::unique_ptr<Entry[]>(new Entry[EntriesPerBlock]));
        }
        at(number) = Entry{1, 1, source, source, offset};
    }
    void met(std::uint32_t number, std::uint64_t source) {
        Entry& entry = at(number);
        ++entry.occurrences;
        if (entry.lastSource != source) {
            entry.lastSource = source;
            ++entry.sources;
        }
    }

    const Entry& at(std::uint32_t number) const {
        return entries_[number / EntriesPerBlock][number % EntriesPerBlock];
    }

private:
    Entry& at(std::uint32_t number) {
        return entries_[number / EntriesPerBlock][number % EntriesPerBlock];
    }

    // Entries in blocks of a fixed size: no copy and no spare half as they grow.
    static constexpr std::size_t EntriesPerBlock = 1 << 12;
    std::vector<std::unique_ptr<Entry[]>> entries_;
};

// The counts of every address of a parallel run, for orlenta-extract --report: the shards'
// counts, read in the order of the output (the order the run handed the new addresses on),
// with the first spellings and the names of the sources where some address was first met.
// The calling thread of the run gives it each new address and its shard as it hands it on,
// and names the sources; the workers fill the shards' counts meanwhile.
//   counts.sourceNamed(3, "a.txt");          // the first new address of source 3 comes next
//   counts.rowMade(shard, "Ann@x.org");      // one new address, the next of its shard
//   ... counts.takeShards(shards) once every worker is done; then row(0), row(1), ...
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

    void sourceNamed(std::uint64_t number, const std::string& name) {
        names_.emplace_back(number, name);
    }
    void rowMade(std::size_t shard, std::string_view spelling);
    void takeShards(std::vector<ShardCounts> shards) { shards_ = std::move(shards); }

    std::size_t size() const { return rows_.size(); }
    Row row(std::size_t index) const;

    std::size_t sourceCount() const { return names_.size(); }
    const std::string& sourceName(std::size_t index) const { return names_[index].second; }
    std::uint64_t sourceNumber(std::size_t index) const { return names_[index].first; }

private:
    struct Made {
        const char* text;  // the first spelling, in blocks_
        std::uint32_t length;
        std::uint32_t number;  // in its shard
    };

    std::vector<ShardCounts> shards_;
    std::vector<Made> rows_;                       // in the order of the output
    std::vector<std::uint8_t> shardOf_;            // of each row
    std::vector<std::uint32_t> made_;              // rows made per shard
    std::vector<std::unique_ptr<char[]>> blocks_;  // the first spellings, back to back
    std::size_t blockLeft_ = 0;
    char* blockAt_ = nullptr;
    std::vector<std::pair<std::uint64_t, std::string>> names_;  // in the order of the numbers
};

}  // namespace orlenta
