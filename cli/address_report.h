#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta {

// The rows of orlenta-extract's --report, tallied from every occurrence of every address as the
// run hands them on (RunSink::occurrenceFound): one row per address compared without regard to
// case, in the order first met, which is the order of the output. Each row holds the first
// spelling, the occurrences in any case, the sources it occurs in, and the first source with
// the offset of the first occurrence there.
//
//   report.sourceStarted("a.txt");
//   report.add("Ann@x.org", 0); report.add("ann@X.org", 40);  // one row: 2 occurrences, 1 source
//
// An address costs its length plus about 80 bytes (a 48-byte row and an 8-byte slot at most
// half full); a source that is the first of some address keeps its name. Throws
// std::bad_alloc when memory runs out, std::length_error past 4 billion rows.
class AddressReport final {
public:
    struct Row {
        std::string_view address;
        std::uint64_t occurrences;
        std::uint64_t sources;
        const std::string& firstSource;
        std::uint64_t offset;
    };

    AddressReport();
    ~AddressReport();
    AddressReport(const AddressReport&) = delete;
    AddressReport& operator=(const AddressReport&) = delete;

    // A source begins; its occurrences follow. Sources come one after the other, never
    // interleaved.
    void sourceStarted(const std::string& name);
    void add(std::string_view address, std::uint64_t offset);

    std::size_t size() const { return entries_.size(); }
    Row row(std::size_t index) const;

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

    const char* keep(std::string_view address);
    void grow();

    std::vector<Entry> entries_;
    // Slots of the table: 0 when empty, else the entry's index + 1 in the low half and the high
    // half of its hash in the high half, so most probes need no comparison.
    std::vector<std::uint64_t> slots_;
    std::vector<std::unique_ptr<char[]>> blocks_;  // the first spellings, back to back
    std::size_t blockLeft_ = 0;
    char* blockAt_ = nullptr;
    std::vector<std::string> names_;  // the sources that are first sources
    std::string currentName_;
    std::uint64_t currentSource_ = 0;  // numbered from 1 as they start
    bool currentNamed_ = false;        // currentName_ is names_.back()
};

}  // namespace orlenta
