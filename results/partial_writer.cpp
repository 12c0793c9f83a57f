#include "results/partial_writer.h"

#include "engine/seen_emails.h"

#include <algorithm>

namespace orlenta {

namespace {

constexpr std::size_t BlockSize = 1024 * 1024;

char Lowered(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

PartialWriter::PartialWriter(const PartialHeader& header, OutputFile& output)
    : output_(output), columns_(header.columns.size()) {
    block_.reserve(BlockSize + 1024);
    block_ = EncodePartialHeader(header);
}

void PartialWriter::add(std::string_view address) {
    add(address, nullptr);
}

void PartialWriter::add(std::string_view address, const std::uint64_t* columns) {
    const std::size_t before = block_.size();
    AppendVarint(block_, address.size());
    block_ += address;
    for (std::size_t c = 0; c < columns_; ++c) {
        AppendVarint(block_, columns != nullptr ? columns[c] : 0);
    }
    recordBytes_ += block_.size() - before;
    const std::size_t offset = lowered_.size();
    for (char c : address) {
        lowered_ += Lowered(c);
    }
    entries_.push_back({HashLowerCased(address), entries_.size(), offset, address.size()});
    if (block_.size() >= BlockSize) {
        write(recordsChecksum_);
    }
}

void PartialWriter::write(PartialChecksum& checksum) {
    checksum.add(block_);
    failed_ = failed_ || !output_.write(block_);
    block_.clear();
}

bool PartialWriter::finish(PartialCounts counts) {
    write(recordsChecksum_);
    const auto bytesOf = [this](const Entry& entry) {
        return std::string_view(lowered_.data() + entry.offset, entry.size);
    };
    std::sort(entries_.begin(), entries_.end(), [&bytesOf](const Entry& a, const Entry& b) {
        return IndexBefore(a.hash, bytesOf(a), b.hash, bytesOf(b));
    });
    PartialChecksum indexChecksum;
    std::uint64_t indexBytes = 0;
    for (const Entry& entry : entries_) {
        const std::size_t before = block_.size();
        AppendU64(block_, entry.hash);
        AppendVarint(block_, entry.record);
        AppendVarint(block_, entry.size);
        block_ += bytesOf(entry);
        indexBytes += block_.size() - before;
        if (block_.size() >= BlockSize) {
            write(indexChecksum);
        }
    }
    counts.records = entries_.size();
    counts.recordBytes = recordBytes_;
    counts.indexBytes = indexBytes;
    block_ += EncodePartialCounts(counts);
    write(indexChecksum);
    AppendU64(block_, recordsChecksum_.value());
    AppendU64(block_, indexChecksum.value());
    block_ += PartialEndMagic;
    failed_ = failed_ || !output_.write(block_);
    return !failed_;
}

}  // namespace orlenta
