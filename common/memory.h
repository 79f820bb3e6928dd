// Memory for the big arrays: mappings of their own that start on a huge
// page's boundary and ask the kernel for huge pages, so that a few page
// faults provide what would otherwise take hundreds; and scratch memory
// that steps run one after another take in turn, so that they share those
// faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace okrelt {

constexpr size_t HUGE_PAGE_BYTES = size_t{2} << 20;   // x86-64's transparent huge page
constexpr size_t SMALL_PAGE_BYTES = 4096;
constexpr size_t CACHE_LINE_BYTES = 64;

// Gives a mapping back to the system.
struct Unmapper {
    size_t bytes = 0;
    void operator()(void* memory) const;
};
using MappedMemory = std::unique_ptr<void, Unmapper>;

// Maps bytes of zero-filled memory of its own, starting on a huge page's
// boundary, and asks for huge pages (madvise) over the whole huge pages
// within it. Null on failure.
MappedMemory map_big_array(size_t bytes);

// One mapping of whole huge pages, for each step in turn.
struct ScratchMemory {
    MappedMemory storage;
    size_t bytes = 0;
    bool used = false;   // a step has written in it
};

// bytes of zeros from the scratch's mapping, which a step before may have
// used, or from a new one that replaces it where it is too small; the
// caller is the mapping's only user until it asks again. Null when there
// is no memory.
void* zeroed_scratch(ScratchMemory* scratch, size_t bytes);

}  // namespace okrelt
