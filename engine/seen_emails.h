#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace orlenta {

// The lower-cased form of every address accepted so far in one run. Lower-casing touches
// "A" to "Z" only, whatever the locale: accepted addresses hold no other letters.
class SeenEmails final {
public:
    SeenEmails();
    ~SeenEmails();
    SeenEmails(const SeenEmails&) = delete;
    SeenEmails& operator=(const SeenEmails&) = delete;

    // Lower-cases `address` and records it. True when it was not met before in this set.
    bool InsertLowerCased(std::string_view address);

    // The same for several addresses, in order: isNew[i] tells what InsertLowerCased
    // (addresses[i]) would have answered. Faster than one by one on a large set, as the memory
    // fetches of a batch overlap instead of following one another.
    void InsertLowerCased(const std::string_view* addresses, std::size_t count, bool* isNew);

    std::size_t size() const;

private:
    class Table;
    std::unique_ptr<Table> table_;
};

}  // namespace orlenta
