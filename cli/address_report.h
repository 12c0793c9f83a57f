#pragma once

#include "engine/extraction_run.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orlenta {

// The rows of orlenta-extract's --report: one row per address compared without regard to
// case, in the order first met, which is the order of the output. A row holds the first
// spelling, the occurrences in any case, the number of sources it occurs in, the first source
// with the offset of the first occurrence there, and the number of the last source it occurs
// in. The run counts them beside its set and they are taken at the end (take(),
// RunSink::countsFound): those rows come first, then the ones tallied here from every
// occurrence the run hands on (RunSink::occurrencesFound): the addresses a frozen set held
// back, which the output gives last too.
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
        std::size_t firstSource;  // in sourceName() and sourceNumber()
        std::uint64_t offset;
        std::uint64_t lastSource;  // the number of the last source it occurs in
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

    // The counts of the parallel run, whose rows come before those tallied here.
    void take(AddressCounts counts) { counted_ = std::move(counts); }

    std::size_t size() const { return counted_.size() + size_; }
    Row row(std::size_t index) const;
    // Brings row `index` into the cache: rows read in order are fetched a few ahead.
    void prefetch(std::size_t index) const {
        if (index < counted_.size()) {
            counted_.prefetch(index);
        }
    }
    // Sources are numbered from 1 as they start (sourceStarted, or the run's own numbering).
    const std::string& sourceName(std::size_t index) const {
        return index < counted_.sourceCount() ? counted_.sourceName(index)
                                              : names_[index - counted_.sourceCount()];
    }
    std::uint64_t sourceNumber(std::size_t index) const {
        return index < counted_.sourceCount() ? counted_.sourceNumber(index)
                                              : nameNumbers_[index - counted_.sourceCount()];
    }

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
    AddressCounts counted_;
    std::vector<std::string> names_;          // the sources that are first sources
    std::vector<std::uint64_t> nameNumbers_;  // and their numbers
    std::string currentName_;
    std::uint64_t currentSource_ = 0;  // numbered from 1 as they start
    bool currentNamed_ = false;        // currentName_ is names_.back()
};

}  // namespace orlenta
