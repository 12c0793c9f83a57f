#pragma once

#include "engine/unique_fd.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace orlenta {

// The bytes of a file to be written in place, held until all of them are known: the file keeps
// its old content until then (it may be one of the inputs still being read). Up to 16 MiB stay
// in memory, a typical save; beyond that they go to an unlinked file in $TMPDIR (or /tmp), so
// a run that writes gigabytes does not hold them in memory beside its set of addresses, and
// nothing is left behind whatever ends the process. False on failure, with error() naming the
// place ("/tmp (holding the output): No space left on device").
class PendingBytes final {
public:
    bool append(std::string_view bytes);
    std::uint64_t size() const { return size_; }

    // Writes them all into `fd` from `offset` on; false with errno set.
    bool copyTo(int fd, off_t offset) const;

    const std::string& error() const { return error_; }

    void clear();

private:
    bool spill();

    std::string memory_;
    UniqueFd spilled_;
    std::uint64_t size_ = 0;
    std::string error_;
};

}  // namespace orlenta
