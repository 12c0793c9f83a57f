// libFuzzer entry point: every input goes through the engine and the slow reference, and any
// disagreement stops the fuzzer with the reason (the input is then saved as a crash file).
#include "fuzz/engine_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string disagreement =
        orlenta::fuzz::FindEngineDisagreement({reinterpret_cast<const char*>(data), size});
    if (!disagreement.empty()) {
        std::fprintf(stderr, "\nThe engine disagrees with the reference: %s\n",
                     disagreement.c_str());
        std::abort();
    }
    return 0;
}
