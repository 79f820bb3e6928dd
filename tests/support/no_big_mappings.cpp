// Preloaded into okrelt by a test: the program's own mappings of more than
// 4 MiB fail, as they would when memory runs out, so that the converter's
// working arrays (4.3 MiB with the room to align them) cannot be had while
// a small unit's streams and everything else can.
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

extern "C" void* mmap(void* address, size_t length, int protection, int flags, int descriptor, off_t offset) {
    constexpr size_t LARGEST = size_t{4} << 20;
    if (length > LARGEST) {
        errno = ENOMEM;
        return MAP_FAILED;
    }
    return reinterpret_cast<void*>(syscall(SYS_mmap, address, length, protection, flags, descriptor, offset));
}
