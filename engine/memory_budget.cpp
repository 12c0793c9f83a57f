#include "engine/memory_budget.h"

#include <unistd.h>

namespace orlenta {

std::size_t HalfOfPhysicalMemory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) {
        return std::size_t{1} << 30;  // unknown: 1 GiB
    }
    return static_cast<std::size_t>(pages) / 2 * static_cast<std::size_t>(pageSize);
}

}  // namespace orlenta
