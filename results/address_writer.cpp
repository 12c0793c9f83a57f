#include "results/address_writer.h"

namespace orlenta {

namespace {

constexpr std::size_t BlockSize = 64 * 1024;

}  // namespace

AddressWriter::AddressWriter(ResultFormat format, OutputFile& output)
    : format_(format), output_(output) {
    block_.reserve(BlockSize + 1024);
}

void AddressWriter::add(std::string_view address) {
    if (format_ == ResultFormat::CommaDelimited) {
        if (!empty_) {
            block_ += ',';
        }
        block_ += address;
    } else {
        block_ += address;
        block_ += "\r\n";
    }
    empty_ = false;
    if (block_.size() >= BlockSize) {
        write();
    }
}

void AddressWriter::write() {
    failed_ = failed_ || !output_.write(block_);
    block_.clear();
}

bool AddressWriter::finish() {
    if (format_ == ResultFormat::CommaDelimited) {
        block_ += "\r\n";
    }
    write();
    return !failed_ && output_.commit();
}

}  // namespace orlenta
