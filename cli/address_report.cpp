#include "cli/address_report.h"

#include "engine/seen_emails.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace orlenta {

namespace {

constexpr std::size_t BlockBytes = 1 << 20;

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(const char* kept, std::string_view address) {
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (LowerAscii(kept[i]) != LowerAscii(address[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

AddressReport::AddressReport() : slots_(1024, 0) {}

AddressReport::~AddressReport() = default;

void AddressReport::sourceStarted(const std::string& name) {
    currentName_ = name;
    currentNamed_ = false;
    ++currentSource_;
}

void AddressReport::add(std::string_view address, std::uint64_t offset) {
    const std::uint64_t hash = HashLowerCased(address);
    const std::uint64_t tag = hash & 0xFFFFFFFF00000000ull;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const std::uint64_t slot = slots_[at];
        if (slot == 0) {
            break;
        }
        if ((slot & 0xFFFFFFFF00000000ull) != tag) {
            continue;
        }
        Entry& entry = entries_[(slot & 0xFFFFFFFFull) - 1];
        if (entry.length == address.size() && EqualIgnoringCase(entry.text, address)) {
            ++entry.occurrences;
            if (entry.lastSource != currentSource_) {
                entry.lastSource = currentSource_;
                ++entry.sources;
            }
            return;
        }
    }
    // New: a row of its own, and a slot, once the table has room for both.
    if (entries_.size() >= 0xFFFFFFFEull) {
        throw std::length_error("more than 4 billion addresses in the report");
    }
    if (2 * (entries_.size() + 1) > slots_.size()) {
        grow();
    }
    if (!currentNamed_) {
        names_.push_back(currentName_);
        currentNamed_ = true;
    }
    entries_.push_back(Entry{keep(address), static_cast<std::uint32_t>(address.size()),
                             static_cast<std::uint32_t>(names_.size() - 1), currentSource_, 1, 1,
                             offset});
    const std::size_t newMask = slots_.size() - 1;
    std::size_t at = hash & newMask;
    while (slots_[at] != 0) {
        at = (at + 1) & newMask;
    }
    slots_[at] = tag | entries_.size();
}

AddressReport::Row AddressReport::row(std::size_t index) const {
    const Entry& entry = entries_[index];
    return Row{std::string_view(entry.text, entry.length), entry.occurrences, entry.sources,
               names_[entry.firstSource], entry.offset};
}

const char* AddressReport::keep(std::string_view address) {
    if (address.size() > blockLeft_) {
        const std::size_t size = std::max(BlockBytes, address.size());
        blocks_.push_back(std::make_unique<char[]>(size));
        blockAt_ = blocks_.back().get();
        blockLeft_ = size;
    }
    char* kept = blockAt_;
    std::memcpy(kept, address.data(), address.size());
    blockAt_ += address.size();
    blockLeft_ -= address.size();
    return kept;
}

void AddressReport::grow() {
    std::vector<std::uint64_t> larger(slots_.size() * 2, 0);
    const std::size_t mask = larger.size() - 1;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& entry = entries_[i];
        const std::uint64_t hash = HashLowerCased(std::string_view(entry.text, entry.length));
        std::size_t at = hash & mask;
        while (larger[at] != 0) {
            at = (at + 1) & mask;
        }
        larger[at] = (hash & 0xFFFFFFFF00000000ull) | (i + 1);
    }
    slots_.swap(larger);
}

}  // namespace orlenta
