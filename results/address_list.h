#pragma once

#include "result_writers.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta {

// Addresses kept back to back in one block of bytes, with where each one ends: no allocation
// per address and 8 bytes of bookkeeping each, so a list of millions stays compact and a run
// that finds hundreds of thousands hands them over without a heap call apiece.
class AddressList final {
public:
    std::size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    std::string_view at(std::size_t index) const;

    void add(std::string_view address);
    // Adds all of `other` after the addresses already here, in order.
    void append(const AddressList& other);
    // Removes one address; those after it move up.
    void remove(std::size_t index);
    // Empties the list, keeping its memory for the addresses to come (assign a new list to
    // give it back).
    void clear();

    Addresses toAddresses() const;

private:
    std::size_t beginOf(std::size_t index) const { return index == 0 ? 0 : ends_[index - 1]; }

    std::string bytes_;
    std::vector<std::size_t> ends_;
};

}  // namespace orlenta
