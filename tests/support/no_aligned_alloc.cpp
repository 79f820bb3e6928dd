// Preloaded into okrelt by a test: aligned allocation always fails, as it
// would when memory runs out, so that the converter's working arrays cannot
// be had while everything else works.
#include <cerrno>
#include <cstddef>

extern "C" void* aligned_alloc(size_t, size_t) {
    errno = ENOMEM;
    return nullptr;
}
