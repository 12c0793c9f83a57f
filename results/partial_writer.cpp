#include "results/partial_writer.h"

#include <zlib.h>

namespace orlenta {

namespace {

constexpr std::size_t BlockSize = 1024 * 1024;

std::uint32_t Crc(std::uint32_t crc, std::string_view bytes) {
    return static_cast<std::uint32_t>(
        ::crc32_z(crc, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

}  // namespace

PartialWriter::PartialWriter(const PartialHeader& header, OutputFile& output) : output_(output) {
    crc_ = static_cast<std::uint32_t>(::crc32_z(0, nullptr, 0));
    block_.reserve(BlockSize + 1024);
    block_ = EncodePartialHeader(header);
}

void PartialWriter::add(std::string_view address) {
    const std::size_t before = block_.size();
    AppendVarint(block_, address.size());
    block_ += address;
    recordBytes_ += block_.size() - before;
    ++records_;
    if (block_.size() >= BlockSize) {
        write();
    }
}

void PartialWriter::write() {
    crc_ = Crc(crc_, block_);
    failed_ = failed_ || !output_.write(block_);
    block_.clear();
}

bool PartialWriter::finish(PartialCounts counts) {
    counts.records = records_;
    counts.recordBytes = recordBytes_;
    block_ += EncodePartialCounts(counts);
    write();
    std::string end;
    AppendU32(end, crc_);
    end += PartialEndMagic;
    failed_ = failed_ || !output_.write(end);
    return !failed_ && output_.commit();
}

}  // namespace orlenta
