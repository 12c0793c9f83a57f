#pragma once

#include "engine/extraction_run.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta {

// The rows of orlenta-extract's --report, tallied from every occurrence of every address as
// the run hands them on (RunSink::occurrencesFound): one row per address compared without
// regard to case, in the order first met, which is the order of the output. A row holds the
// first spelling, the occurrences in any case, the number of sources it occurs in, and the
// first source with the offset of the first occurrence there.
//
//   report.sourceStarted("a.txt");
//   report.add(occurrences, 2);  // "Ann@x.org" new at 0, "ann@X.org" at 40: one row, twice
//
// An address costs its length plus 59 to 70 bytes (a 48-byte row and 8-byte slots at most
// 3/4 full; about 90 bytes in all for 3 million addresses of 25 bytes); a source that is the
// first of some address keeps its name. Throws std::bad_alloc when memory runs out,
// std::length_error past 2 billion rows.
class AddressReport final {
public:
    struct Row {
        std::string_view address;
        std::uint64_t occurrences;
        std::uint64_t sources;
        std::size_t firstSource;  // in sourceName()
        std::uint64_t offset;
        std::uint64_t lastSource;  // the number of the last source it occurs in, as sourceNumber()
    };

    AddressReport();
    ~AddressReport();
    AddressReport(const AddressReport&) = delete;
    AddressReport& operator=(const AddressReport&) = delete;

    // A source begins; its occurrences follow. Sources come one after the other.
    void sourceStarted(const std::string& name);

    // Occurrences of the current source in text order. One marked new is trusted to be new
    // (the run's set said so): its row is made without a search.
    void add(const Occurrence* occurrences, std::size_t count);

    std::size_t size() const { return size_; }
    Row row(std::size_t index) const;
    const std::string& sourceName(std::size_t index) const { return names_[index]; }
    // The number of a first source among all the sources, from 1 in the order they started.
    std::uint64_t sourceNumber(std::size_t index) const { return nameNumbers_[index]; }

private:
    struct Entry {
        const char* text;  // the first spelling, in blocks_
        std::uint32_t length;
        std::uint32_t firstSource;  // in names_
        std::uint64_t lastSource;   // the number of the last source it was met in
        std::uint64_t occurrences;
        std::uint64_t sources;
        std::uint64_t offset;
    };

    void tally(const Occurrence& occurrence);
    void addRow(const Occurrence& occurrence);
    std::size_t slotOf(std::uint64_t hash) const {
        return static_cast<std::size_t>(hash >> shift_);
    }
    const char* keep(std::string_view address);
    // The table stays at most 3/4 full: the tags keep the probes short even so.
    bool roomFor(std::size_t more) const { return 4 * (size_ + more) <= 3 * slots_.size(); }
    void grow();

    Entry& entry(std::size_t index) {
        return entries_[index / EntriesPerBlock][index % EntriesPerBlock];
    }
    const Entry& entry(std::size_t index) const {
        return entries_[index / EntriesPerBlock][index % EntriesPerBlock];
    }

    // Rows in blocks of a fixed size: no copy and no spare half as the report grows.
    static constexpr std::size_t EntriesPerBlock = 1 << 16;
    std::vector<std::unique_ptr<Entry[]>> entries_;
    std::size_t size_ = 0;
    // Slots of the table: 0 when empty, else the entry's index + 1 in the low half and the
    // high half of its hash in the high half, so most probes need no comparison. An address's
    // first slot is given by the top bits of its hash: the table grows without reading rows.
    std::vector<std::uint64_t> slots_;
    unsigned shift_;
    std::vector<std::unique_ptr<char[]>> blocks_;  // the first spellings, back to back
    std::size_t blockLeft_ = 0;
    char* blockAt_ = nullptr;
    std::vector<std::string> names_;          // the sources that are first sources
    std::vector<std::uint64_t> nameNumbers_;  // their numbers, as currentSource_
    std::string currentName_;
    std::uint64_t currentSource_ = 0;  // numbered from 1 as they start
    bool currentNamed_ = false;        // currentName_ is names_.back()
};

}  // namespace orlenta
