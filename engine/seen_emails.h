#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace orlenta {

// A 64-bit hash of the address lower-cased ("A" to "Z" only), the same for every spelling of
// one address. The set files an address by it; the parallel run also shares addresses out by it.
std::uint64_t HashLowerCased(std::string_view address);

// Where one occurrence of an address was met: its source, numbered from 1 as sources start,
// and its offset there.
struct Sighting {
    std::uint64_t source;
    std::uint64_t offset;
};

// The counts of one address of a counting set (SeenEmails::Counted).
struct AddressTally {
    std::uint64_t occurrences;
    std::uint64_t sources;      // the sources it occurs in
    std::uint64_t firstSource;  // where it was first met,
    std::uint64_t offset;       // and at which offset
    std::uint64_t lastSource;   // the last source it was met in
};

// The lower-cased form of every address accepted so far in one run. Lower-casing touches
// "A" to "Z" only, whatever the locale: accepted addresses hold no other letters. An address
// costs its length plus about 20 bytes (a 1-byte length and an 8-byte slot at most 3/4 full).
// The set holds up to 3 billion addresses and 64 GiB of them; past either it throws
// std::length_error, and std::bad_alloc when memory runs out (it stays usable then).
class SeenEmails final {
public:
    SeenEmails();
    // Keys are kept in arenas of at most `blocksPerArena` blocks of 4 MiB (512 by default):
    // the tests make them small to reach what lies past a full arena.
    explicit SeenEmails(std::size_t blocksPerArena);
    // A counting set, for a report: each address keeps its first spelling as it was met (not
    // lower-cased) and its counts beside it, so the look-up that says whether an address is
    // new finds its counts in the same cache line. 24 bytes more an address (40 more for one
    // counted past 4 billion times or in a source numbered past that), and 8 for its place in
    // the order of the addresses.
    enum Counting { Counted };
    explicit SeenEmails(Counting);
    SeenEmails(Counting, std::size_t blocksPerArena);
    ~SeenEmails();
    SeenEmails(const SeenEmails&) = delete;
    SeenEmails& operator=(const SeenEmails&) = delete;

    // Lower-cases `address` and records it. True when it was not met before in this set.
    bool InsertLowerCased(std::string_view address);

    // The same for several addresses, in order: isNew[i] tells what InsertLowerCased
    // (addresses[i]) would have answered. Faster than one by one on a large set, as the memory
    // fetches of a batch overlap instead of following one another. `hashes`, when given, holds
    // HashLowerCased of each address.
    void InsertLowerCased(const std::string_view* addresses, std::size_t count, bool* isNew,
                          const std::uint64_t* hashes = nullptr);

    // Whether `address` (any spelling) is in the set, without adding it: a frozen set's
    // look-up. `hash` is HashLowerCased(address).
    bool ContainsLowerCased(std::string_view address, std::uint64_t hash) const;

    // The same for several addresses: found[i] tells whether addresses[i] is in the set.
    void ContainsLowerCased(const std::string_view* addresses, std::size_t count, bool* found,
                            const std::uint64_t* hashes) const;

    // For a counting set: InsertLowerCased and ContainsLowerCased of several addresses, each
    // met where `sightings[i]` says. An address added gets its counts started; one found gets
    // them counted (a frozen set counts what it holds and adds nothing).
    void InsertCounting(const std::string_view* addresses, std::size_t count, bool* isNew,
                        const std::uint64_t* hashes, const Sighting* sightings);
    void ContainsCounting(const std::string_view* addresses, std::size_t count, bool* found,
                          const std::uint64_t* hashes, const Sighting* sightings);

    // A counting set's addresses in the order they were added, numbered from 0: the first
    // spelling and the counts. Their bytes stay where they are while the set grows.
    struct CountedAddress {
        std::string_view firstSpelling;
        AddressTally tally;
    };
    CountedAddress counted(std::size_t number) const;
    // Brings the address `number` into the cache: it is read soon.
    void prefetch(std::size_t number) const;

    // For a counting set whose look-ups are over: frees the table, keeps the spellings and
    // counts. Nothing may be added or looked up after.
    void endLookups();

    std::size_t size() const;

    // Forgets every address but keeps the memory (counted by memoryPeakAfter) for the next
    // ones: a set filled again and again does not fault and zero new pages each time.
    void clear();

    // The most memory the set may hold while it takes `addresses` more addresses of `bytes`
    // bytes in all: what it holds now, the next arena blocks, and a table that grows (its old
    // and new slots both held while the slots move). A memory budget is checked against it
    // before the set takes more.
    std::size_t memoryPeakAfter(std::size_t addresses, std::size_t bytes) const;

    // Bytes held by the set, for the benchmarks.
    std::size_t memoryUsed() const;

private:
    class Table;
    std::unique_ptr<Table> table_;
};

}  // namespace orlenta
