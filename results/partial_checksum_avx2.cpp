#include "results/partial_checksum_avx2.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace orlenta {

void UpdatePartialChecksumAvx2(void* state, const char* data, std::size_t size) {
    XXH3_64bits_update(static_cast<XXH3_state_t*>(state), data, size);
}

}  // namespace orlenta
