// Owners that release a C stream or C-allocated memory when they go.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace okrelt {

// Closes a stream when its owner goes out of scope.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Releases memory from the C allocator (malloc, calloc, realloc, aligned_alloc).
struct FreeDeleter {
    void operator()(void* memory) const { std::free(memory); }
};

}  // namespace okrelt
