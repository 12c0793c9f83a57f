#pragma once

#include "results/result_writers.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <string_view>
#include <vector>

namespace orlenta {

// Addresses kept in blocks of bytes that never move, each address viewed where it lies: no
// allocation per address, and nothing copied as the list grows (a growing array would copy
// what it holds and touch twice the memory), so a run that finds hundreds of thousands of
// addresses hands them to the list cheaply, and millions of rows stay compact.
class AddressList final {
public:
    std::size_t size() const { return views_.size(); }
    bool empty() const { return views_.empty(); }
    std::string_view at(std::size_t index) const { return views_.at(index); }

    void add(std::string_view address);
    // Takes all of `other` after the addresses already here, in order, with its blocks;
    // `other` is left empty.
    void append(AddressList&& other);
    // Removes one address; those after it move up. Its bytes stay until the list is cleared.
    void remove(std::size_t index);

    Addresses toAddresses() const;

private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::deque<std::string_view> views_;
    char* free_ = nullptr;  // the unused end of the last block
    std::size_t room_ = 0;
    std::size_t nextBlockSize_ = 4096;
};

}  // namespace orlenta
