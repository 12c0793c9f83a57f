#include "cli/address_report.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace orlenta {

namespace {

constexpr std::size_t BlockBytes = 1 << 20;
constexpr unsigned FirstSlotBits = 10;
constexpr std::uint64_t TagMask = 0xFFFFFFFF00000000ull;
// Rows at most: the slots, up to twice as many, are found by the 32 bits of the tag.
constexpr std::size_t MostRows = std::size_t(1) << 31;
// Occurrences whose slots are fetched together: the memory fetches overlap.
constexpr std::size_t Group = 16;

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

AddressReport::AddressReport()
    : slots_(std::size_t(1) << FirstSlotBits, 0), shift_(64 - FirstSlotBits) {}

AddressReport::~AddressReport() = default;

void AddressReport::sourceStarted(const std::string& name) {
    currentName_ = name;
    currentNamed_ = false;
    ++currentSource_;
}

void AddressReport::add(const Occurrence* occurrences, std::size_t count) {
    for (std::size_t first = 0; first < count; first += Group) {
        const std::size_t end = std::min(count, first + Group);
        if (!roomFor(end - first)) {
            grow();  // now rather than between the fetches and their use
        }
        for (std::size_t i = first; i < end; ++i) {
            __builtin_prefetch(&slots_[slotOf(occurrences[i].hash)]);
        }
        for (std::size_t i = first; i < end; ++i) {
            if (occurrences[i].isNew) {
                addRow(occurrences[i]);
            } else {
                tally(occurrences[i]);
            }
        }
    }
}

void AddressReport::tally(const Occurrence& occurrence) {
    const std::uint64_t tag = occurrence.hash & TagMask;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = slotOf(occurrence.hash);; at = (at + 1) & mask) {
        const std::uint64_t slot = slots_[at];
        if (slot == 0) {
            // Not met before after all: the set and the report disagree, which they cannot;
            // a row keeps the count right all the same.
            addRow(occurrence);
            return;
        }
        if ((slot & TagMask) != tag) {
            continue;
        }
        Entry& met = entry((slot & ~TagMask) - 1);
        if (met.length == occurrence.address.size() &&
            EqualIgnoringCase(met.text, occurrence.address)) {
            ++met.occurrences;
            if (met.lastSource != currentSource_) {
                met.lastSource = currentSource_;
                ++met.sources;
            }
            return;
        }
    }
}

void AddressReport::addRow(const Occurrence& occurrence) {
    if (size_ >= MostRows) {
        throw std::length_error("more than 2 billion addresses in the report");
    }
    if (!roomFor(1)) {
        grow();
    }
    if (!currentNamed_) {
        names_.push_back(currentName_);
        nameNumbers_.push_back(currentSource_);
        currentNamed_ = true;
    }
    if (size_ % EntriesPerBlock == 0) {
        entries_.push_back(std::unique_ptr<Entry[]>(new Entry[EntriesPerBlock]));
    }
    entry(size_) = Entry{keep(occurrence.address),
                         static_cast<std::uint32_t>(occurrence.address.size()),
                         static_cast<std::uint32_t>(names_.size() - 1),
                         currentSource_,
                         1,
                         1,
                         occurrence.offset};
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = slotOf(occurrence.hash);
    while (slots_[at] != 0) {
        at = (at + 1) & mask;
    }
    ++size_;
    slots_[at] = (occurrence.hash & TagMask) | size_;
}

AddressReport::Row AddressReport::row(std::size_t index) const {
    if (index < counted_.size()) {
        const AddressCounts::Row row = counted_.row(index);
        return Row{row.address,     row.occurrences, row.sources,
                   row.firstSource, row.offset,      row.lastSource};
    }
    const Entry& row = entry(index - counted_.size());
    return Row{std::string_view(row.text, row.length),   row.occurrences, row.sources,
               counted_.sourceCount() + row.firstSource, row.offset,      row.lastSource};
}

const char* AddressReport::keep(std::string_view address) {
    if (address.size() > blockLeft_) {
        const std::size_t size = std::max(BlockBytes, address.size());
        blocks_.push_back(std::unique_ptr<char[]>(new char[size]));
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
    const unsigned shift = shift_ - 1;
    const std::size_t mask = larger.size() - 1;
    for (const std::uint64_t slot : slots_) {
        if (slot != 0) {
            std::size_t at = static_cast<std::size_t>(slot >> shift);
            while (larger[at] != 0) {
                at = (at + 1) & mask;
            }
            larger[at] = slot;
        }
    }
    slots_.swap(larger);
    shift_ = shift;
}

}  // namespace orlenta
