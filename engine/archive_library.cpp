#include "engine/archive_library.h"

#include <dlfcn.h>

#include <stdexcept>

namespace orlenta {

namespace {

struct Loaded {
    ArchiveLibrary library;
    std::string error;  // empty once loaded
};

// Loaded once, by the first caller; RTLD_NOW: a missing function is found here, not in the
// middle of an archive.
const Loaded& Load() {
    static const Loaded loaded = [] {
        Loaded result;
        void* handle = ::dlopen(ORLENTA_LIBARCHIVE_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* reason = ::dlerror();
            result.error = reason != nullptr ? reason : ORLENTA_LIBARCHIVE_SONAME ": not loaded";
            return result;
        }
#define ORLENTA_ARCHIVE_FIND(name)                                                     \
    result.library.name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name)); \
    if (result.library.name == nullptr && result.error.empty()) {                      \
        result.error = ORLENTA_LIBARCHIVE_SONAME ": lacks " #name;                     \
    }
        ORLENTA_ARCHIVE_FUNCTIONS(ORLENTA_ARCHIVE_FIND)
#undef ORLENTA_ARCHIVE_FIND
        return result;  // the library stays loaded to the end of the program
    }();
    return loaded;
}

}  // namespace

bool LoadArchiveLibrary(std::string& error) {
    const Loaded& loaded = Load();
    error = loaded.error;
    return loaded.error.empty();
}

const ArchiveLibrary& Archive() {
    const Loaded& loaded = Load();
    if (!loaded.error.empty()) {
        throw std::runtime_error(loaded.error);
    }
    return loaded.library;
}

}  // namespace orlenta
