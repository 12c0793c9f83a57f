#include "engine/seen_emails.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace orlenta {

namespace {

constexpr std::uint64_t Ones = 0x0101010101010101ull;

// Lower-cases "A"-"Z" in eight bytes at once; every other byte, those above 127 included, is
// left as it is. The high bits are masked off first so no addition carries into a neighbour.
std::uint64_t LowerAsciiWord(std::uint64_t word) {
    const std::uint64_t low7 = word & (0x7F * Ones);
    const std::uint64_t atLeastA = low7 + (0x80 - 'A') * Ones;    // high bit: byte >= 'A'
    const std::uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * Ones;  // high bit: byte > 'Z'
    const std::uint64_t upper = (atLeastA ^ aboveZ) & ~word & (0x80 * Ones);
    return word | (upper >> 2);  // 0x80 >> 2 == 0x20, the case bit
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

std::uint64_t LoadWord(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The last 1 to 7 bytes of an address, as if copied into a zeroed word, without a call to
// memcpy of variable length.
std::uint64_t LoadTail(const char* p, std::size_t size) {
    std::uint64_t word = 0;
    for (std::size_t i = size; i-- > 0;) {
        word = (word << 8) | static_cast<unsigned char>(p[i]);
    }
    return word;
}

bool EqualsLowerCased(const char* stored, std::string_view address) {
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (stored[i] != LowerAscii(address[i])) {
            return false;
        }
    }
    return true;
}

// Eight bytes at a time, both sides lower-cased: a counting set keeps spellings as they were.
bool EqualIgnoringCase(const char* stored, std::string_view address) {
    const std::size_t size = address.size();
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        if (LowerAsciiWord(LoadWord(stored + i)) != LowerAsciiWord(LoadWord(address.data() + i))) {
            return false;
        }
    }
    return i == size || LowerAsciiWord(LoadTail(stored + i, size - i)) ==
                            LowerAsciiWord(LoadTail(address.data() + i, size - i));
}

constexpr std::size_t HugePage = 2u << 20;

// A counting set's counts as kept beside each key: 24 bytes where AddressTally takes 40, as a
// report's memory is mostly these (and on most machines memory first touched costs more than
// the counting). A count or source number too large for 32 bits moves the address's counts,
// whole, to a table of their own, and `occurrences` is Wide then.
struct StoredTally {
    std::uint32_t occurrences;
    std::uint32_t sources;
    std::uint32_t firstSource;
    std::uint32_t lastSource;
    std::uint64_t offset;
};
constexpr std::uint32_t Wide = UINT32_MAX;

// `tally` as stored; false when a field does not fit in 32 bits.
bool Narrowed(const AddressTally& tally, StoredTally& stored) {
    if (tally.occurrences >= Wide || tally.sources >= Wide || tally.firstSource >= Wide ||
        tally.lastSource >= Wide) {
        return false;
    }
    stored = StoredTally{static_cast<std::uint32_t>(tally.occurrences),
                         static_cast<std::uint32_t>(tally.sources),
                         static_cast<std::uint32_t>(tally.firstSource),
                         static_cast<std::uint32_t>(tally.lastSource), tally.offset};
    return true;
}

AddressTally Widened(const StoredTally& stored) {
    return AddressTally{stored.occurrences, stored.sources, stored.firstSource, stored.offset,
                        stored.lastSource};
}

void Count(AddressTally& tally, const Sighting& sighting) {
    ++tally.occurrences;
    if (tally.lastSource != sighting.source) {
        tally.lastSource = sighting.source;
        ++tally.sources;
    }
}

// Large arrays that are touched all over: on huge pages they cost one page fault per 2 MiB
// instead of one per 4 KiB, and fewer TLB misses when probed at random.
void* Allocate(std::size_t bytes) {
    void* memory = nullptr;
    if (bytes >= HugePage) {
        memory = std::aligned_alloc(HugePage, (bytes + HugePage - 1) / HugePage * HugePage);
#ifdef MADV_HUGEPAGE
        if (memory != nullptr) {
            ::madvise(memory, bytes, MADV_HUGEPAGE);
        }
#endif
    } else {
        memory = std::malloc(bytes);
    }
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

struct FreeMemory {
    void operator()(char* memory) const { std::free(memory); }
};

}  // namespace

// Taken eight bytes at a time.
std::uint64_t HashLowerCased(std::string_view address) {
    std::uint64_t hash = address.size() * 0xC2B2AE3D27D4EB4Full;
    auto mix = [&hash](std::uint64_t word) {
        hash = (hash ^ LowerAsciiWord(word)) * 0x9E3779B97F4A7C15ull;
        hash = (hash << 31) | (hash >> 33);
    };
    std::size_t i = 0;
    for (; i + 8 <= address.size(); i += 8) {
        mix(LoadWord(address.data() + i));
    }
    if (i < address.size()) {
        mix(LoadTail(address.data() + i, address.size() - i));
    }
    hash ^= hash >> 32;
    hash *= 0xD6E8FEB86659FD93ull;
    hash ^= hash >> 29;
    return hash == 0 ? 1 : hash;
}

namespace {

// The lower-cased keys, back to back, each after its length (one byte, or 0xFF and four bytes
// for the rare key of 255 bytes or more). A key is known by a 31-bit reference: its block in
// the upper bits, its place in the block in the lower ones, so an arena holds 2 GiB of keys at
// most. Only the newest block grows (by realloc while small, so a small set stays small);
// references do not change when it moves.
class KeyArena final {
public:
    static constexpr unsigned ReferenceBits = 31;
    static constexpr unsigned OffsetBits = 22;
    static constexpr std::size_t BlockSize = std::size_t{1} << OffsetBits;
    static constexpr std::size_t MaxBlocks = std::size_t{1} << (ReferenceBits - OffsetBits);

    explicit KeyArena(std::size_t maxBlocks = MaxBlocks) : maxBlocks_(maxBlocks) {}
    KeyArena(const KeyArena&) = delete;
    KeyArena& operator=(const KeyArena&) = delete;

    // `counted`: the key is followed by its counts (SeenEmails::Counting).
    static std::size_t SizeOf(std::string_view address, bool counted = false) {
        return (address.size() >= 0xFF ? 5 : 1) + address.size() +
               (counted ? sizeof(StoredTally) : 0);
    }

    // Whether a key of `size` bytes (SizeOf) can still be stored.
    bool hasRoomFor(std::size_t size) const {
        return !needsNewBlock(size) || blocks_.size() < maxBlocks_;
    }

    // Stores `address` lower-cased, when hasRoomFor it; or, with a `tally`, as it is spelled
    // and followed by the tally. Returns its reference.
    std::uint32_t store(std::string_view address, const StoredTally* tally = nullptr) {
        const std::size_t size = SizeOf(address, tally != nullptr);
        if (needsNewBlock(size)) {
            startBlock(size);
        } else if (used_ + size > capacity_) {
            growBlock(used_ + size);
        }
        char* key = blocks_.back().get() + used_;
        const auto ref = static_cast<std::uint32_t>(((blocks_.size() - 1) << OffsetBits) | used_);
        if (address.size() >= 0xFF) {
            key[0] = static_cast<char>(0xFF);
            const auto length = static_cast<std::uint32_t>(address.size());
            std::memcpy(key + 1, &length, sizeof length);
            key += 5;
        } else {
            key[0] = static_cast<char>(address.size());
            key += 1;
        }
        if (tally != nullptr) {
            std::memcpy(key, address.data(), address.size());
            std::memcpy(key + address.size(), tally, sizeof *tally);
        } else {
            for (std::size_t i = 0; i < address.size(); ++i) {
                key[i] = LowerAscii(address[i]);
            }
        }
        used_ += size;
        if (size > BlockSize) {
            used_ = BlockSize;  // a key of its own block: the next one starts a new block
        }
        return ref;
    }

    // Where the key `ref` starts (at its length).
    const char* at(std::uint32_t ref) const {
        return blocks_[ref >> OffsetBits].get() + (ref & (BlockSize - 1));
    }
    char* at(std::uint32_t ref) {
        return blocks_[ref >> OffsetBits].get() + (ref & (BlockSize - 1));
    }

    // The bytes of the key at `key` (as at()), past its length.
    static std::string_view keyBytes(const char* key) {
        std::size_t length = static_cast<unsigned char>(key[0]);
        ++key;
        if (length == 0xFF) {
            std::uint32_t longLength;
            std::memcpy(&longLength, key, sizeof longLength);
            length = longLength;
            key += sizeof longLength;
        }
        return std::string_view(key, length);
    }

    static bool matches(const char* key, std::string_view address) {
        const std::string_view bytes = keyBytes(key);
        return bytes.size() == address.size() && EqualsLowerCased(bytes.data(), address);
    }

    // A counting set's key: its spelling, compared without regard to case on both sides.
    static bool matchesSpelled(const char* key, std::string_view address) {
        const std::string_view bytes = keyBytes(key);
        return bytes.size() == address.size() && EqualIgnoringCase(bytes.data(), address);
    }

    // Where the counts stored after the key at `key` (as at()) of a counting set are; they
    // are read and written with memcpy, as keys leave them unaligned.
    static const char* tallyOf(const char* key) {
        const std::string_view bytes = keyBytes(key);
        return bytes.data() + bytes.size();
    }
    static char* tallyOf(char* key) { return key + (tallyOf(static_cast<const char*>(key)) - key); }

    std::size_t memoryUsed() const { return inUse() + spare_.size() * BlockSize; }

    // What memoryUsed() may become once `bytes` more bytes of keys are stored. Spare blocks
    // are taken before any is allocated: memory grows only once they are all in use.
    std::size_t memoryAfter(std::size_t bytes) const {
        if (spare_.empty()) {
            return inUseAfter(bytes);
        }
        const std::size_t inUse =
            blocks_.empty() ? (bytes / BlockSize + 1) * BlockSize : inUseAfter(bytes);
        return std::max(inUse, memoryUsed());
    }

    // Forgets every key; the blocks of full size are kept for the keys to come, without the
    // page faults and zeroing of new memory.
    void clear() {
        for (std::size_t i = 0; i < blocks_.size(); ++i) {
            if ((i + 1 < blocks_.size() ? sizes_[i] : capacity_) == BlockSize) {
                spare_.push_back(std::move(blocks_[i]));
            }
        }
        blocks_.clear();
        sizes_.clear();
        capacity_ = 0;
        used_ = 0;
    }

private:
    static constexpr std::size_t FirstBlockSize = 16u << 10;

    std::size_t inUse() const {
        return blocks_.empty() ? 0 : (blocks_.size() - 1) * BlockSize + capacity_;
    }

    std::size_t inUseAfter(std::size_t bytes) const {
        if (blocks_.empty()) {
            return std::max(FirstBlockSize, bytes) + (bytes > FirstBlockSize ? BlockSize : 0);
        }
        if (used_ + bytes <= capacity_) {
            return inUse();
        }
        if (used_ + bytes <= BlockSize) {
            std::size_t capacity = capacity_;
            while (capacity < used_ + bytes) {
                capacity *= 2;
            }
            return inUse() - capacity_ + std::min(capacity, BlockSize);
        }
        // New blocks: at least one, and one more for each further BlockSize.
        return blocks_.size() * BlockSize + (bytes / BlockSize + 1) * BlockSize;
    }

    bool needsNewBlock(std::size_t size) const {
        return blocks_.empty() || used_ + size > BlockSize;
    }

    void startBlock(std::size_t keySize) {
        if (keySize > UINT32_MAX) {
            throw std::length_error("an address of 4 GiB or more");
        }
        if (!blocks_.empty()) {
            sizes_.push_back(capacity_);
        }
        if (!spare_.empty() && keySize <= BlockSize) {
            blocks_.push_back(std::move(spare_.back()));
            spare_.pop_back();
            capacity_ = BlockSize;
            used_ = 0;
            return;
        }
        // The first block starts small; later ones are full size from the start.
        capacity_ =
            blocks_.empty() ? std::max(FirstBlockSize, keySize) : std::max(BlockSize, keySize);
        blocks_.emplace_back(
            static_cast<char*>(blocks_.empty() ? std::malloc(capacity_) : Allocate(capacity_)));
        if (!blocks_.back()) {
            blocks_.pop_back();
            if (!sizes_.empty()) {
                capacity_ = sizes_.back();
                sizes_.pop_back();
            }
            throw std::bad_alloc();
        }
        used_ = 0;
    }

    void growBlock(std::size_t needed) {
        std::size_t capacity = capacity_;
        while (capacity < needed) {
            capacity *= 2;
        }
        capacity = std::min(capacity, BlockSize);
        void* moved = std::realloc(blocks_.back().get(), capacity);
        if (moved == nullptr) {
            throw std::bad_alloc();
        }
        blocks_.back().release();
        blocks_.back().reset(static_cast<char*>(moved));
        capacity_ = capacity;
    }

    const std::size_t maxBlocks_;
    std::vector<std::unique_ptr<char, FreeMemory>> blocks_;
    std::vector<std::size_t> sizes_;                        // of the blocks but the newest
    std::vector<std::unique_ptr<char, FreeMemory>> spare_;  // of BlockSize, kept by clear()
    std::size_t capacity_ = 0;                              // of the newest block
    std::size_t used_ = 0;                                  // of the newest block
};

// Every key of a set. The keys go to one shared arena while it has room: up to 2 GiB, some 60
// million addresses, as compact as one arena can be. Past that each key goes to one of 32 more
// arenas, picked by low bits of its tag, and its reference has the top bit set: the slot stays
// 8 bytes, and the set takes 66 GiB of keys in all. The tag is at hand wherever a key is
// looked at, so finding the arena costs one test of a bit.
class KeyStore final {
public:
    static constexpr std::uint32_t SpreadBit = std::uint32_t{1} << KeyArena::ReferenceBits;
    static constexpr std::size_t SpreadArenas = 32;

    explicit KeyStore(std::size_t blocksPerArena)
        : blocksPerArena_(blocksPerArena), shared_(blocksPerArena) {}

    std::uint32_t store(std::uint32_t tag, std::string_view address,
                        const StoredTally* tally = nullptr) {
        const std::size_t size = KeyArena::SizeOf(address, tally != nullptr);
        if (shared_.hasRoomFor(size)) {
            return shared_.store(address, tally);
        }
        if (spread_.empty()) {
            std::vector<std::unique_ptr<KeyArena>> arenas;  // all of them or none
            for (std::size_t i = 0; i < SpreadArenas; ++i) {
                arenas.push_back(std::make_unique<KeyArena>(blocksPerArena_));
            }
            spread_.swap(arenas);
        }
        KeyArena& arena = *spread_[tag % SpreadArenas];
        if (!arena.hasRoomFor(size)) {
            throw std::length_error("more than 64 GiB of distinct addresses");
        }
        return SpreadBit | arena.store(address, tally);
    }

    const char* at(std::uint32_t tag, std::uint32_t ref) const {
        if ((ref & SpreadBit) == 0) {
            return shared_.at(ref);
        }
        return spread_[tag % SpreadArenas]->at(ref & ~SpreadBit);
    }
    char* at(std::uint32_t tag, std::uint32_t ref) {
        if ((ref & SpreadBit) == 0) {
            return shared_.at(ref);
        }
        return spread_[tag % SpreadArenas]->at(ref & ~SpreadBit);
    }

    std::size_t memoryUsed() const {
        std::size_t used = shared_.memoryUsed();
        for (const auto& arena : spread_) {
            used += arena->memoryUsed();
        }
        return used;
    }

    // Forgets every key; the shared arena keeps its blocks.
    void clear() {
        shared_.clear();
        spread_.clear();
    }

    // What memoryUsed() may become once `bytes` more bytes of keys are stored. Past the
    // shared arena the keys spread over many: each may start a block.
    std::size_t memoryAfter(std::size_t bytes) const {
        const std::size_t shared = shared_.memoryAfter(bytes);
        if (spread_.empty() && shared_.hasRoomFor(bytes)) {
            return memoryUsed() - shared_.memoryUsed() + shared;
        }
        return memoryUsed() + bytes + 2 * KeyArena::BlockSize;
    }

private:
    const std::size_t blocksPerArena_;
    KeyArena shared_;
    std::vector<std::unique_ptr<KeyArena>> spread_;  // made when the shared arena is full
};

}  // namespace

// A counting set's slots in the order their keys were added, in blocks of a fixed size: no
// copy and no spare half as it grows.
class PlaceOrder final {
public:
    void push(std::uint64_t placed) {
        if (size_ == blocks_.size() * PerBlock) {
            blocks_.push_back(std::unique_ptr<std::uint64_t[]>(new std::uint64_t[PerBlock]));
        }
        blocks_[size_ / PerBlock][size_ % PerBlock] = placed;
        ++size_;
    }
    std::uint64_t at(std::size_t number) const {
        return blocks_[number / PerBlock][number % PerBlock];
    }

    // Forgets every place; the blocks are kept.
    void clear() { size_ = 0; }

    std::size_t memoryUsed() const { return blocks_.size() * PerBlock * sizeof(std::uint64_t); }
    std::size_t memoryAfter(std::size_t places) const {
        const std::size_t blocks = std::max(blocks_.size(), (places + PerBlock - 1) / PerBlock);
        return blocks * PerBlock * sizeof(std::uint64_t);
    }

private:
    static constexpr std::size_t PerBlock = 1 << 16;
    std::vector<std::unique_ptr<std::uint64_t[]>> blocks_;
    std::size_t size_ = 0;
};

// Open addressing with linear probing, at most 3/4 full. A slot is 8 bytes: the upper 32 bits
// of the hash (never 0, so an empty slot is 0) and the key's reference. The home of a slot is
// the top bits of that tag, so the tag alone finds the new home when the table grows (keys are
// never touched then), and two keys with the same home still differ in their tags but for one
// in 2^(32 - bits): a probe reads a key only when it is almost surely the one.
class SeenEmails::Table {
public:
    Table(std::size_t blocksPerArena, bool counted) : counted_(counted), keys_(blocksPerArena) {
        allocate(12);
    }
    ~Table() { std::free(slots_); }
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    bool insert(std::string_view address, std::uint64_t hash) {
        if (counted_) {
            return insertCounted(address, hash, Sighting{0, 0});
        }
        if ((count_ + 1) * 4 > capacity() * 3) {
            grow();
        }
        const std::uint32_t tag = TagOf(hash);
        for (std::size_t i = home(tag);; i = (i + 1) & mask_) {
            const std::uint64_t slot = slots_[i];
            if (slot == 0) {
                slots_[i] = (std::uint64_t{tag} << 32) | keys_.store(tag, address);
                ++count_;
                return true;
            }
            if (static_cast<std::uint32_t>(slot >> 32) == tag &&
                KeyArena::matches(keys_.at(tag, static_cast<std::uint32_t>(slot)), address)) {
                return false;
            }
        }
    }

    // The same for a counting set: a new address's counts start at `sighting`, a known one's
    // are counted.
    bool insertCounted(std::string_view address, std::uint64_t hash, const Sighting& sighting) {
        if ((count_ + 1) * 4 > capacity() * 3) {
            grow();
        }
        const std::uint32_t tag = TagOf(hash);
        for (std::size_t i = home(tag);; i = (i + 1) & mask_) {
            const std::uint64_t slot = slots_[i];
            if (slot == 0) {
                const AddressTally tally{1, 1, sighting.source, sighting.offset, sighting.source};
                StoredTally stored{Wide, 0, 0, 0, 0};
                const bool narrow = Narrowed(tally, stored);
                const std::uint64_t placed =
                    (std::uint64_t{tag} << 32) | keys_.store(tag, address, &stored);
                // Should these throw, the stored key is only unused room.
                if (!narrow) {
                    wide_[placed] = tally;
                }
                order_.push(placed);
                slots_[i] = placed;
                ++count_;
                return true;
            }
            if (countIfMatched(slot, tag, address, sighting)) {
                return false;
            }
        }
    }

    // contains() for a counting set: counts the address when found.
    bool countIfContained(std::string_view address, std::uint64_t hash, const Sighting& sighting) {
        const std::uint32_t tag = TagOf(hash);
        for (std::size_t i = home(tag);; i = (i + 1) & mask_) {
            const std::uint64_t slot = slots_[i];
            if (slot == 0) {
                return false;
            }
            if (countIfMatched(slot, tag, address, sighting)) {
                return true;
            }
        }
    }

    CountedAddress counted(std::size_t number) const {
        const std::uint64_t placed = order_.at(number);
        const char* key = keyOfPlaced(placed);
        CountedAddress address;
        address.firstSpelling = KeyArena::keyBytes(key);
        StoredTally stored;
        std::memcpy(&stored, KeyArena::tallyOf(key), sizeof stored);
        address.tally = stored.occurrences == Wide ? wide_.at(placed) : Widened(stored);
        return address;
    }

    // A key and its counts take some 50 bytes: often across two cache lines, both fetched.
    void prefetchNumber(std::size_t number) const {
        const char* key = keyOfPlaced(order_.at(number));
        __builtin_prefetch(key);
        __builtin_prefetch(key + 64);
    }

    void endLookups() {
        std::free(slots_);
        slots_ = nullptr;
        bits_ = 0;
        mask_ = 0;
    }

    bool contains(std::string_view address, std::uint64_t hash) const {
        const std::uint32_t tag = TagOf(hash);
        for (std::size_t i = home(tag);; i = (i + 1) & mask_) {
            const std::uint64_t slot = slots_[i];
            if (slot == 0) {
                return false;
            }
            if (static_cast<std::uint32_t>(slot >> 32) == tag) {
                const char* key = keys_.at(tag, static_cast<std::uint32_t>(slot));
                if (counted_ ? KeyArena::matchesSpelled(key, address)
                             : KeyArena::matches(key, address)) {
                    return true;
                }
            }
        }
    }

    std::size_t memoryPeakAfter(std::size_t addresses, std::size_t bytes) const {
        std::size_t capacity = this->capacity();
        while ((count_ + addresses) * 4 > capacity * 3) {
            capacity *= 2;
        }
        // While the slots move, the last table but one is held too.
        const std::size_t slots = capacity == this->capacity()
                                      ? capacity * sizeof(std::uint64_t)
                                      : (capacity + capacity / 2) * sizeof(std::uint64_t);
        if (!counted_) {
            return slots + keys_.memoryAfter(bytes + 5 * addresses);
        }
        return slots + keys_.memoryAfter(bytes + (5 + sizeof(StoredTally)) * addresses) +
               order_.memoryAfter(count_ + addresses);
    }

    // Brings the slot where a look-up for `hash` starts into the cache.
    void prefetchSlot(std::uint64_t hash) const { __builtin_prefetch(&slots_[home(TagOf(hash))]); }

    // Brings the key of that slot into the cache when the tags are equal: the key is compared
    // next, and in large inputs most addresses are repeats.
    void prefetchKey(std::uint64_t hash) const {
        const std::uint32_t tag = TagOf(hash);
        const std::uint64_t slot = slots_[home(tag)];
        if (static_cast<std::uint32_t>(slot >> 32) == tag) {
            __builtin_prefetch(keys_.at(tag, static_cast<std::uint32_t>(slot)));
        }
    }

    std::size_t size() const { return count_; }

    void clear() {
        std::memset(slots_, 0, capacity() * sizeof(std::uint64_t));
        count_ = 0;
        keys_.clear();
        order_.clear();
        wide_.clear();
    }
    std::size_t memoryUsed() const {
        const std::size_t slots = slots_ != nullptr ? capacity() * sizeof(std::uint64_t) : 0;
        return slots + keys_.memoryUsed() + order_.memoryUsed();
    }

private:
    static std::uint32_t TagOf(std::uint64_t hash) {
        const auto tag = static_cast<std::uint32_t>(hash >> 32);
        return tag == 0 ? 1 : tag;
    }

    std::size_t capacity() const { return mask_ + 1; }
    std::size_t home(std::uint32_t tag) const { return tag >> (32 - bits_); }

    void allocate(unsigned bits) {
        const std::size_t capacity = std::size_t{1} << bits;
        slots_ = static_cast<std::uint64_t*>(Allocate(capacity * sizeof(std::uint64_t)));
        std::memset(slots_, 0, capacity * sizeof(std::uint64_t));
        bits_ = bits;
        mask_ = capacity - 1;
    }

    void grow() {
        if (bits_ == 32) {
            throw std::length_error("more than 3 billion distinct addresses");
        }
        std::uint64_t* const old = slots_;
        const std::size_t oldCapacity = capacity();
        allocate(bits_ + 1);
        for (std::size_t j = 0; j < oldCapacity; ++j) {
            const std::uint64_t slot = old[j];
            if (slot == 0) {
                continue;
            }
            std::size_t i = home(static_cast<std::uint32_t>(slot >> 32));
            while (slots_[i] != 0) {
                i = (i + 1) & mask_;
            }
            slots_[i] = slot;
        }
        std::free(old);
    }

    std::uint64_t* slots_ = nullptr;
    unsigned bits_ = 0;
    std::size_t mask_ = 0;
    // A counting set's key for `slot` when it is `address`: then it is counted at `sighting`.
    bool countIfMatched(std::uint64_t slot, std::uint32_t tag, std::string_view address,
                        const Sighting& sighting) {
        if (static_cast<std::uint32_t>(slot >> 32) != tag) {
            return false;
        }
        char* key = keys_.at(tag, static_cast<std::uint32_t>(slot));
        if (!KeyArena::matchesSpelled(key, address)) {
            return false;
        }
        char* counts = KeyArena::tallyOf(key);
        StoredTally stored;
        std::memcpy(&stored, counts, sizeof stored);
        if (stored.occurrences == Wide) {
            Count(wide_.at(slot), sighting);
            return true;
        }
        AddressTally tally = Widened(stored);
        Count(tally, sighting);
        if (!Narrowed(tally, stored)) {
            wide_[slot] = tally;  // should it throw, the tally stays as it was
            stored.occurrences = Wide;
        }
        std::memcpy(counts, &stored, sizeof stored);
        return true;
    }

    const char* keyOfPlaced(std::uint64_t placed) const {
        return keys_.at(static_cast<std::uint32_t>(placed >> 32),
                        static_cast<std::uint32_t>(placed));
    }

    std::size_t count_ = 0;
    const bool counted_;
    KeyStore keys_;
    PlaceOrder order_;  // a counting set's slots in the order the keys were added
    // The counts that do not fit in a StoredTally, by slot: counts past 4 billion, sources
    // numbered past that.
    std::unordered_map<std::uint64_t, AddressTally> wide_;
};

SeenEmails::SeenEmails() : SeenEmails(KeyArena::MaxBlocks) {}
SeenEmails::SeenEmails(std::size_t blocksPerArena)
    : table_(std::make_unique<Table>(blocksPerArena, false)) {}
SeenEmails::SeenEmails(Counting) : SeenEmails(Counted, KeyArena::MaxBlocks) {}
SeenEmails::SeenEmails(Counting, std::size_t blocksPerArena)
    : table_(std::make_unique<Table>(blocksPerArena, true)) {}
SeenEmails::~SeenEmails() = default;

void SeenEmails::InsertLowerCased(const std::string_view* addresses, std::size_t count, bool* isNew,
                                  const std::uint64_t* hashes) {
    // Three passes over each group: fetch the slots, fetch the keys they point to, then look
    // up in order. The fetches of a group overlap instead of following one another.
    constexpr std::size_t Group = 16;
    std::uint64_t groupHashes[Group];
    for (std::size_t first = 0; first < count; first += Group) {
        const std::size_t size = std::min(Group, count - first);
        for (std::size_t i = 0; i < size; ++i) {
            groupHashes[i] =
                hashes != nullptr ? hashes[first + i] : HashLowerCased(addresses[first + i]);
            table_->prefetchSlot(groupHashes[i]);
        }
        for (std::size_t i = 0; i < size; ++i) {
            table_->prefetchKey(groupHashes[i]);
        }
        for (std::size_t i = 0; i < size; ++i) {
            isNew[first + i] = table_->insert(addresses[first + i], groupHashes[i]);
        }
    }
}

namespace {

// Visits each of `count` addresses by their `hashes` in groups of 16, the group's slots and
// then their keys fetched first: the fetches of a group overlap instead of following one
// another.
template <typename Table, typename Visit>
void InPrefetchedGroups(Table& table, const std::uint64_t* hashes, std::size_t count,
                        const Visit& visit) {
    constexpr std::size_t Group = 16;
    for (std::size_t first = 0; first < count; first += Group) {
        const std::size_t size = std::min(Group, count - first);
        for (std::size_t i = first; i < first + size; ++i) {
            table.prefetchSlot(hashes[i]);
        }
        for (std::size_t i = first; i < first + size; ++i) {
            table.prefetchKey(hashes[i]);
        }
        for (std::size_t i = first; i < first + size; ++i) {
            visit(i);
        }
    }
}

}  // namespace

void SeenEmails::InsertCounting(const std::string_view* addresses, std::size_t count, bool* isNew,
                                const std::uint64_t* hashes, const Sighting* sightings) {
    Table& table = *table_;
    InPrefetchedGroups(table, hashes, count, [&](std::size_t i) {
        isNew[i] = table.insertCounted(addresses[i], hashes[i], sightings[i]);
    });
}

void SeenEmails::ContainsCounting(const std::string_view* addresses, std::size_t count, bool* found,
                                  const std::uint64_t* hashes, const Sighting* sightings) {
    Table& table = *table_;
    InPrefetchedGroups(table, hashes, count, [&](std::size_t i) {
        found[i] = table.countIfContained(addresses[i], hashes[i], sightings[i]);
    });
}

SeenEmails::CountedAddress SeenEmails::counted(std::size_t number) const {
    return table_->counted(number);
}

void SeenEmails::prefetch(std::size_t number) const {
    table_->prefetchNumber(number);
}

void SeenEmails::endLookups() {
    table_->endLookups();
}

bool SeenEmails::InsertLowerCased(std::string_view address) {
    return table_->insert(address, HashLowerCased(address));
}

bool SeenEmails::ContainsLowerCased(std::string_view address, std::uint64_t hash) const {
    return table_->contains(address, hash);
}

void SeenEmails::ContainsLowerCased(const std::string_view* addresses, std::size_t count,
                                    bool* found, const std::uint64_t* hashes) const {
    const Table& table = *table_;
    InPrefetchedGroups(table, hashes, count,
                       [&](std::size_t i) { found[i] = table.contains(addresses[i], hashes[i]); });
}

std::size_t SeenEmails::memoryPeakAfter(std::size_t addresses, std::size_t bytes) const {
    return table_->memoryPeakAfter(addresses, bytes);
}

void SeenEmails::clear() {
    table_->clear();
}

std::size_t SeenEmails::size() const {
    return table_->size();
}

std::size_t SeenEmails::memoryUsed() const {
    return table_->memoryUsed();
}

}  // namespace orlenta
