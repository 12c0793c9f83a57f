#include "seen_emails.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace orlenta {

namespace {

// Lower-cases "A"-"Z" in eight bytes at once; every other byte, those above 127 included, is
// left as it is. The high bits are masked off first so no addition carries into a neighbour.
std::uint64_t LowerAsciiWord(std::uint64_t word) {
    constexpr std::uint64_t Ones = 0x0101010101010101ull;
    const std::uint64_t low7 = word & (0x7F * Ones);
    const std::uint64_t atLeastA = low7 + (0x80 - 'A') * Ones;    // high bit: byte >= 'A'
    const std::uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * Ones;  // high bit: byte > 'Z'
    const std::uint64_t upper = (atLeastA ^ aboveZ) & ~word & (0x80 * Ones);
    return word | (upper >> 2);  // 0x80 >> 2 == 0x20, the case bit
}

std::uint64_t LoadWord(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

std::uint64_t LoadTail(const char* p, std::size_t size) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, size);
    return word;
}

std::uint64_t Mix(std::uint64_t hash, std::uint64_t word) {
    hash = (hash ^ word) * 0x9E3779B97F4A7C15ull;
    return (hash << 31) | (hash >> 33);
}

}  // namespace

// Open addressing with linear probing over (hash, key) slots. The lower-cased keys live back
// to back in large blocks, so a run with millions of addresses makes a few hundred
// allocations, not millions, and a probe compares the stored hash before touching a key.
class SeenEmails::Table {
public:
    bool insert(std::string_view address) {
        lowerCase(address);
        const std::uint64_t hash = hashLowered();
        if ((count_ + 1) * 4 > slots_.size() * 3) {
            grow();
        }
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.key == nullptr) {
                slot.key = store();
                slot.length = size_;
                slot.hash = hash;
                ++count_;
                return true;
            }
            if (slot.hash == hash && slot.length == size_ &&
                std::memcmp(slot.key, buffer_.data(), size_) == 0) {
                return false;
            }
        }
    }

    std::size_t size() const { return count_; }

private:
    struct Slot {
        const char* key = nullptr;
        std::size_t length = 0;
        std::uint64_t hash = 0;
    };

    static constexpr std::size_t BlockSize = 1 << 20;

    // Fills buffer_ with the lower-cased address followed by zero bytes up to a whole word.
    void lowerCase(std::string_view address) {
        size_ = address.size();
        buffer_.resize((size_ + 7) / 8 * 8);
        char* out = buffer_.data();
        std::size_t i = 0;
        for (; i + 8 <= size_; i += 8) {
            const std::uint64_t word = LowerAsciiWord(LoadWord(address.data() + i));
            std::memcpy(out + i, &word, sizeof word);
        }
        if (i < size_) {
            const std::uint64_t word = LowerAsciiWord(LoadTail(address.data() + i, size_ - i));
            std::memcpy(out + i, &word, sizeof word);
        }
    }

    std::uint64_t hashLowered() const {
        std::uint64_t hash = size_ * 0xC2B2AE3D27D4EB4Full;
        for (std::size_t i = 0; i < buffer_.size(); i += 8) {
            hash = Mix(hash, LoadWord(buffer_.data() + i));
        }
        hash ^= hash >> 32;
        hash *= 0xD6E8FEB86659FD93ull;
        return hash ^ (hash >> 29);
    }

    const char* store() {
        const std::size_t size = size_;
        if (blocks_.empty() || blockUsed_ + size > blocks_.back().size()) {
            blocks_.emplace_back(std::max(BlockSize, size), '\0');
            blockUsed_ = 0;
        }
        char* key = blocks_.back().data() + blockUsed_;
        std::memcpy(key, buffer_.data(), size);
        blockUsed_ += size;
        return key;
    }

    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 1024 : old.size() * 2, Slot{});
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.key == nullptr) {
                continue;
            }
            std::size_t i = slot.hash & mask;
            while (slots_[i].key != nullptr) {
                i = (i + 1) & mask;
            }
            slots_[i] = slot;
        }
    }

    std::vector<Slot> slots_;
    std::vector<std::string> blocks_;
    std::size_t blockUsed_ = 0;
    std::size_t count_ = 0;
    std::vector<char> buffer_;  // the address being looked up, lower-cased and padded
    std::size_t size_ = 0;      // its length without the padding
};

SeenEmails::SeenEmails() : table_(std::make_unique<Table>()) {}
SeenEmails::~SeenEmails() = default;

bool SeenEmails::InsertLowerCased(std::string_view address) {
    return table_->insert(address);
}

std::size_t SeenEmails::size() const {
    return table_->size();
}

}  // namespace orlenta
