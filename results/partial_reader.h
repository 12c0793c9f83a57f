#pragma once

#include "engine/unique_fd.h"
#include "results/partial_format.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta {

// Reads a partial result (results/partial_format.h) back: open() checks what can be checked
// without reading the records (the magic, the format version, the header, the trailer's place
// and the lengths it gives); start() chooses one of the two sections, and next() hands it out
// in order, a batch at a time, from large sequential reads, checking at its end the count of
// entries and the section's checksum.
//
//   PartialReader partial;
//   if (!partial.open(path) || !partial.start(PartialReader::Section::Records)) {
//       report(partial.error());                            // "truncated", "format version 2 ..."
//   }
//   std::vector<std::string_view> batch;
//   while (partial.next(batch)) { use(batch); }
//   if (partial.failed()) { report(partial.error()); }      // "corrupt: its checksum ..."
//
// Its buffer stays small (256 KB by default) on purpose: a section read through a buffer that
// stays in the cache costs less than one read whole into fresh memory, whose pages the
// system must first clear.
class PartialReader final {
public:
    enum class Section { Records, Index };

    PartialReader();
    ~PartialReader();
    PartialReader(const PartialReader&) = delete;
    PartialReader& operator=(const PartialReader&) = delete;

    // False with error() when `path` cannot be read or is not a whole partial of this format.
    bool open(const std::string& path);

    const PartialHeader& header() const { return header_; }
    const PartialCounts& counts() const { return counts_; }

    // Goes to the start of `section`, to be read with reads of `bufferBytes` (once per reader).
    bool start(Section section, std::size_t bufferBytes = 256 * 1024);

    // The next records (addresses, first spellings in order) or index entries; the views stay
    // valid until the next call. False at the end, and when an entry or the checksum is found
    // wrong (failed() then).
    bool next(std::vector<std::string_view>& addresses);
    // Records with their column values: header().columns.size() of them per record, one
    // record after another, in `columns`.
    bool next(std::vector<std::string_view>& addresses, std::vector<std::uint64_t>& columns);
    bool next(std::vector<PartialIndexEntry>& entries);

    // Reads the rest of the section for its checksum alone, handing nothing out: a check
    // before anything is written, of entries that another reader hands out afterwards (which
    // checks their form then). False with error() when the section is cut short or its
    // checksum does not match.
    bool check();

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

private:
    enum class Parsed { Item, NeedMore, Bad };
    static Parsed ParseAddress(const char*& at, const char* end, std::uint64_t limit,
                               std::string_view& address);
    template <typename Item, typename Parse>
    bool nextItems(std::vector<Item>& items, Parse parse);
    bool fail(std::string reason);
    bool fill();
    bool finishSection();
    bool checksumMatches();

    UniqueFd fd_;
    PartialHeader header_;
    PartialCounts counts_;
    std::string head_;        // the bytes from the magic to the header's end
    std::string countBytes_;  // the trailer's counts
    std::uint64_t recordsChecksum_ = 0;
    std::uint64_t indexChecksum_ = 0;
    Section section_ = Section::Records;
    std::unique_ptr<PartialChecksum> checksum_;
    std::uint64_t unread_ = 0;  // bytes of the section not read yet
    std::uint64_t seen_ = 0;    // entries handed out
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;  // first byte not parsed
    std::size_t end_ = 0;    // one past the last byte read
    bool started_ = false;
    bool done_ = false;
    std::string error_;
};

}  // namespace orlenta
