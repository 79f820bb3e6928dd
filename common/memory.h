// Memory for the big arrays, laid out so that the kernel provides its pages
// in a few steps instead of one page fault per 4 KiB page: page faults are
// a large share of a run that lasts a few tens of milliseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace okrelt {

// x86-64's transparent huge page. The big arrays start on one's boundary and
// ask the kernel to back them with huge pages (madvise); what that saves and
// costs is in docs/performance.md.
constexpr size_t HUGE_PAGE_BYTES = size_t{2} << 20;
constexpr size_t SMALL_PAGE_BYTES = 4096;
constexpr size_t CACHE_LINE_BYTES = 64;

// Gives a mapping back to the system.
struct Unmapper {
    size_t bytes = 0;
    void operator()(void* memory) const;
};
using MappedMemory = std::unique_ptr<void, Unmapper>;

// Maps bytes of zero-filled memory of its own, starting on a huge page's
// boundary, and asks for huge pages over the whole huge pages within it.
// Nothing is provided yet (see prefault_pages). Null on failure.
MappedMemory map_big_array(size_t bytes);

// Has the kernel provide the writable pages within [memory, memory + bytes)
// in one call, as if each had been written. Only a hint: older kernels
// leave the pages to be faulted in one by one.
inline void prefault_pages(void* memory, size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    const uintptr_t first = (reinterpret_cast<uintptr_t>(memory) + SMALL_PAGE_BYTES - 1) & ~(SMALL_PAGE_BYTES - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(memory) + bytes) & ~(SMALL_PAGE_BYTES - 1);
    if (end > first) (void)madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
    (void)memory;
    (void)bytes;
#endif
}

}  // namespace okrelt
