#include "address_list.h"

namespace orlenta {

std::string_view AddressList::at(std::size_t index) const {
    const std::size_t begin = beginOf(index);
    return std::string_view(bytes_).substr(begin, ends_.at(index) - begin);
}

void AddressList::add(std::string_view address) {
    bytes_.append(address);
    ends_.push_back(bytes_.size());
}

void AddressList::append(const AddressList& other) {
    const std::size_t offset = bytes_.size();
    bytes_.append(other.bytes_);
    ends_.reserve(ends_.size() + other.ends_.size());
    for (std::size_t end : other.ends_) {
        ends_.push_back(offset + end);
    }
}

void AddressList::remove(std::size_t index) {
    const std::size_t begin = beginOf(index);
    const std::size_t length = ends_.at(index) - begin;
    bytes_.erase(begin, length);
    ends_.erase(ends_.begin() + static_cast<std::ptrdiff_t>(index));
    for (std::size_t i = index; i < ends_.size(); ++i) {
        ends_[i] -= length;
    }
}

void AddressList::clear() {
    bytes_.clear();
    ends_.clear();
}

Addresses AddressList::toAddresses() const {
    Addresses addresses;
    addresses.reserve(size());
    for (std::size_t i = 0; i < size(); ++i) {
        addresses.emplace_back(at(i));
    }
    return addresses;
}

}  // namespace orlenta
