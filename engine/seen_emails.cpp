#include "seen_emails.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace orlenta {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

// FNV-1a over the lower-cased bytes, finished with a multiply-shift mix so the low bits spread.
std::uint64_t HashLowerCased(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(LowerAscii(c));
        hash *= 1099511628211ull;
    }
    hash ^= hash >> 32;
    hash *= 0x9E3779B97F4A7C15ull;
    return hash ^ (hash >> 29);
}

bool EqualsLowerCased(std::string_view stored, std::string_view address) {
    if (stored.size() != address.size()) {
        return false;
    }
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] != LowerAscii(address[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

// Open addressing with linear probing. The keys live back to back in large blocks, so a run
// with millions of addresses makes a few hundred allocations, not millions.
class SeenEmails::Table {
public:
    bool insert(std::string_view address) {
        if ((count_ + 1) * 4 > slots_.size() * 3) {
            grow();
        }
        const std::uint64_t hash = HashLowerCased(address);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.key == nullptr) {
                slot.key = store(address);
                slot.length = address.size();
                slot.hash = hash;
                ++count_;
                return true;
            }
            if (slot.hash == hash && EqualsLowerCased({slot.key, slot.length}, address)) {
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

    const char* store(std::string_view address) {
        if (blocks_.empty() || blockUsed_ + address.size() > blocks_.back().size()) {
            blocks_.emplace_back(std::max(BlockSize, address.size()), '\0');
            blockUsed_ = 0;
        }
        char* key = blocks_.back().data() + blockUsed_;
        for (std::size_t i = 0; i < address.size(); ++i) {
            key[i] = LowerAscii(address[i]);
        }
        blockUsed_ += address.size();
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
};

SeenEmails::SeenEmails() : table_(std::make_unique<Table>()) {}
SeenEmails::~SeenEmails() = default;

bool SeenEmails::InsertLowerCased(std::string_view address) { return table_->insert(address); }

std::size_t SeenEmails::size() const { return table_->size(); }

}  // namespace orlenta
