#pragma once

#include <cstddef>
#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta {

using Addresses = std::vector<std::string>;

class AddressSnapshot;

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

    // The addresses as they stand now, for a save that yields while the list may change.
    AddressSnapshot snapshot() const;

private:
    // Shared with snapshots: a cleared list lets go of its blocks, a snapshot still holds them.
    std::vector<std::shared_ptr<char[]>> blocks_;
    std::deque<std::string_view> views_;
    char* free_ = nullptr;  // the unused end of the last block
    std::size_t room_ = 0;
    std::size_t nextBlockSize_ = 4096;
};

// A list's addresses as they stood when it was taken, each viewed where it lies in the list's
// blocks, which the snapshot keeps alive: nothing done to the list afterwards (a removal, a
// clear, more addresses) reaches it, and taking one copies a view per address, not the bytes.
// Made from strings it copies them (tests; callers with addresses of their own).
class AddressSnapshot final {
public:
    AddressSnapshot() = default;
    AddressSnapshot(std::initializer_list<std::string_view> addresses);
    AddressSnapshot(const Addresses& addresses);  // NOLINT(google-explicit-constructor)

    std::size_t size() const { return views_.size(); }
    bool empty() const { return views_.empty(); }
    std::string_view operator[](std::size_t index) const { return views_[index]; }
    auto begin() const { return views_.begin(); }
    auto end() const { return views_.end(); }

private:
    friend class AddressList;
    template <typename Strings>
    void copy(const Strings& addresses);

    std::vector<std::string_view> views_;
    std::vector<std::shared_ptr<const char[]>> blocks_;
};

}  // namespace orlenta
