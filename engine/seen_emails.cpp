#include "seen_emails.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
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

// A 64-bit hash of the lower-cased address, taken eight bytes at a time. Never 0, which marks
// an empty slot.
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

bool EqualsLowerCased(const char* stored, std::string_view address) {
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (stored[i] != LowerAscii(address[i])) {
            return false;
        }
    }
    return true;
}

constexpr std::size_t HugePage = 2u << 20;

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

// Open addressing with linear probing, kept at most half full. A slot holds the full hash and
// where the key lives, so a probe touches a key only when the hashes are equal, and growing
// never touches a key at all. The lower-cased keys, each after its length, lie back to back in
// large blocks: millions of addresses make a few hundred allocations.
class SeenEmails::Table {
public:
    Table() { allocate(4096); }
    ~Table() { std::free(slots_); }
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    bool insert(std::string_view address, std::uint64_t hash) {
        if ((count_ + 1) * 2 > capacity_) {
            grow();
        }
        for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
            Slot& slot = slots_[i];
            if (slot.hash == 0) {
                slot = {hash, store(address)};
                ++count_;
                return true;
            }
            if (slot.hash == hash && matches(slot.key, address)) {
                return false;
            }
        }
    }

    // Brings the slot where a look-up for `hash` starts into the cache.
    void prefetchSlot(std::uint64_t hash) const { __builtin_prefetch(&slots_[hash & mask_]); }

    // Brings the key of that slot into the cache when the hashes are equal: the key is
    // compared next, and in large inputs most addresses are repeats.
    void prefetchKey(std::uint64_t hash) const {
        const Slot& slot = slots_[hash & mask_];
        if (slot.hash == hash) {
            __builtin_prefetch(slot.key);
        }
    }

    std::size_t size() const { return count_; }

private:
    struct Slot {
        std::uint64_t hash;  // 0: empty
        const char* key;     // the key's length (std::uint32_t), then its bytes
    };

    static constexpr std::size_t BlockSize = HugePage;
    static constexpr std::size_t LengthSize = sizeof(std::uint32_t);

    static bool matches(const char* key, std::string_view address) {
        std::uint32_t length;
        std::memcpy(&length, key, LengthSize);
        return length == address.size() && EqualsLowerCased(key + LengthSize, address);
    }

    const char* store(std::string_view address) {
        if (address.size() > UINT32_MAX) {
            throw std::length_error("an address of 4 GiB or more");
        }
        const std::size_t size = LengthSize + address.size();
        if (blocks_.empty() || blockUsed_ + size > blockSize_) {
            blockSize_ = std::max(BlockSize, size);
            blocks_.emplace_back(static_cast<char*>(Allocate(blockSize_)));
            blockUsed_ = 0;
        }
        char* key = blocks_.back().get() + blockUsed_;
        const auto length = static_cast<std::uint32_t>(address.size());
        std::memcpy(key, &length, LengthSize);
        for (std::size_t i = 0; i < address.size(); ++i) {
            key[LengthSize + i] = LowerAscii(address[i]);
        }
        blockUsed_ += size;
        return key;
    }

    void allocate(std::size_t capacity) {
        slots_ = static_cast<Slot*>(Allocate(capacity * sizeof(Slot)));
        std::memset(static_cast<void*>(slots_), 0, capacity * sizeof(Slot));
        capacity_ = capacity;
        mask_ = capacity - 1;
    }

    void grow() {
        Slot* const old = slots_;
        const std::size_t oldCapacity = capacity_;
        allocate(oldCapacity * 2);
        for (std::size_t j = 0; j < oldCapacity; ++j) {
            if (old[j].hash == 0) {
                continue;
            }
            std::size_t i = old[j].hash & mask_;
            while (slots_[i].hash != 0) {
                i = (i + 1) & mask_;
            }
            slots_[i] = old[j];
        }
        std::free(old);
    }

    Slot* slots_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t mask_ = 0;
    std::size_t count_ = 0;
    std::vector<std::unique_ptr<char, FreeMemory>> blocks_;
    std::size_t blockSize_ = 0;
    std::size_t blockUsed_ = 0;
};

SeenEmails::SeenEmails() : table_(std::make_unique<Table>()) {}
SeenEmails::~SeenEmails() = default;

void SeenEmails::InsertLowerCased(const std::string_view* addresses, std::size_t count,
                                  bool* isNew) {
    // Three passes over each group: fetch the slots, fetch the keys they point to, then look
    // up in order. The fetches of a group overlap instead of following one another.
    constexpr std::size_t Group = 16;
    std::uint64_t hashes[Group];
    for (std::size_t first = 0; first < count; first += Group) {
        const std::size_t size = std::min(Group, count - first);
        for (std::size_t i = 0; i < size; ++i) {
            hashes[i] = HashLowerCased(addresses[first + i]);
            table_->prefetchSlot(hashes[i]);
        }
        for (std::size_t i = 0; i < size; ++i) {
            table_->prefetchKey(hashes[i]);
        }
        for (std::size_t i = 0; i < size; ++i) {
            isNew[first + i] = table_->insert(addresses[first + i], hashes[i]);
        }
    }
}

bool SeenEmails::InsertLowerCased(std::string_view address) {
    return table_->insert(address, HashLowerCased(address));
}

std::size_t SeenEmails::size() const {
    return table_->size();
}

}  // namespace orlenta
