#include "results/address_writer.h"

#include <algorithm>

namespace orlenta {

namespace {

// Blocks this large make few system calls (a merge writes hundreds of megabytes at the
// speed of a copy) and still cost nothing next to the run's own buffers.
constexpr std::size_t BlockSize = 1024 * 1024;

}  // namespace

AddressWriter::AddressWriter(ResultFormat format, OutputFile& output)
    : format_(format), output_(&output) {}

AddressWriter::AddressWriter(ResultFormat format) : format_(format), output_(nullptr) {}

void AddressWriter::makeRoom(std::size_t size) {
    // A writer with a file writes its block and keeps its size; a held one grows.
    if (output_ != nullptr && used_ > 0) {
        write();
    }
    if (capacity_ - used_ >= size) {
        return;
    }
    const std::size_t capacity = std::max({BlockSize, used_ + size, 2 * capacity_});
    std::unique_ptr<char[]> larger(new char[capacity]);  // not zeroed: only used_ bytes count
    std::copy_n(block_.get(), used_, larger.get());
    block_ = std::move(larger);
    capacity_ = capacity;
}

void AddressWriter::reserve(std::size_t bytes) {
    if (capacity_ - used_ < bytes) {
        std::unique_ptr<char[]> larger(new char[used_ + bytes]);  // not zeroed, as makeRoom
        std::copy_n(block_.get(), used_, larger.get());
        block_ = std::move(larger);
        capacity_ = used_ + bytes;
    }
}

void AddressWriter::write() {
    failed_ = failed_ || !output_->write(block_.get(), used_);
    used_ = 0;
}

void AddressWriter::add(AddressWriter& held) {
    if (held.empty_) {
        return;
    }
    if (format_ == ResultFormat::CommaDelimited && !empty_) {
        makeRoom(1);
        block_[used_++] = ',';
    }
    if (used_ > 0) {
        write();
    }
    failed_ = failed_ || !output_->write(held.block_.get(), held.used_);
    empty_ = false;
    if (capacity_ == 0 && held.used_ >= BlockSize) {
        // Its pages are in memory already: the block for what follows.
        block_ = std::move(held.block_);
        capacity_ = held.used_;
    }
    held.block_.reset();
    held.capacity_ = 0;
    held.used_ = 0;
    held.empty_ = true;
}

bool AddressWriter::finish() {
    return flush() && output_->commit();
}

bool AddressWriter::flush() {
    if (format_ == ResultFormat::CommaDelimited) {
        makeRoom(2);
        block_[used_++] = '\r';
        block_[used_++] = '\n';
    }
    if (used_ > 0) {
        write();
    }
    return !failed_;
}

}  // namespace orlenta
