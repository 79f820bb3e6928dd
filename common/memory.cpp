// Big arrays mapped on their own, on a huge page's boundary.
#include "common/memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

namespace okrelt {

void Unmapper::operator()(void* memory) const { (void)munmap(memory, bytes); }

MappedMemory map_big_array(size_t bytes) {
    const size_t mapped = (bytes + SMALL_PAGE_BYTES - 1) / SMALL_PAGE_BYTES * SMALL_PAGE_BYTES;
    // A huge page more than needed, so that a boundary lies within; the parts
    // before it and after the array go back at once.
    void* const wide = mmap(nullptr, mapped + HUGE_PAGE_BYTES, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                            -1, 0);
    if (wide == MAP_FAILED) return MappedMemory(nullptr, Unmapper{});
    const uintptr_t start = reinterpret_cast<uintptr_t>(wide);
    const uintptr_t aligned = (start + HUGE_PAGE_BYTES - 1) & ~(HUGE_PAGE_BYTES - 1);
    const size_t before = aligned - start;
    if (before > 0) (void)munmap(wide, before);
    (void)munmap(reinterpret_cast<void*>(aligned + mapped), HUGE_PAGE_BYTES - before);
    void* const memory = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    const size_t huge = mapped / HUGE_PAGE_BYTES * HUGE_PAGE_BYTES;
    if (huge > 0) (void)madvise(memory, huge, MADV_HUGEPAGE);
#endif
    return MappedMemory(memory, Unmapper{mapped});
}

void* zeroed_scratch(ScratchMemory* scratch, size_t bytes) {
    if (scratch->storage == nullptr || scratch->bytes < bytes) {
        const size_t huge = std::max<size_t>(1, (bytes + HUGE_PAGE_BYTES - 1) / HUGE_PAGE_BYTES) * HUGE_PAGE_BYTES;
        scratch->storage.reset();   // before the new one: both at once might not fit
        scratch->storage = map_big_array(huge);
        scratch->bytes = scratch->storage != nullptr ? huge : 0;
        scratch->used = false;
        if (scratch->storage == nullptr) return nullptr;
    } else if (scratch->used) {
        std::memset(scratch->storage.get(), 0, bytes);
    }
    scratch->used = true;
    return scratch->storage.get();
}

}  // namespace okrelt
