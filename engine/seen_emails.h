#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace orlenta {

// A 64-bit hash of the address lower-cased ("A" to "Z" only), the same for every spelling of
// one address. The set files an address by it; the parallel run also shares addresses out by it.
std::uint64_t HashLowerCased(std::string_view address);

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
    // A numbered set: each address also gets a number, 0 for the first one added, 1 for the
    // next, and so on, kept after its key (4 bytes more an address). The parallel run's report
    // counts are filed by it: the look-up that says whether an address is new finds its
    // counts too. Up to 2^32 addresses.
    enum Numbering { Numbered };
    explicit SeenEmails(Numbering);
    SeenEmails(Numbering, std::size_t blocksPerArena);
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

    // For a numbered set: InsertLowerCased and ContainsLowerCased of several addresses that
    // also give each one's number (numbers[i]; left as it was where found[i] is false).
    void InsertNumbered(const std::string_view* addresses, std::size_t count, bool* isNew,
                        const std::uint64_t* hashes, std::uint32_t* numbers);
    void ContainsNumbered(const std::string_view* addresses, std::size_t count, bool* found,
                          const std::uint64_t* hashes, std::uint32_t* numbers) const;

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
