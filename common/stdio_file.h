// Small shared helpers for the program's files and its error reports.
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

// Prints "text: <system description of errno>\n" on standard error, after
// flushing standard output so that piped messages keep their order.
inline void report_system_error(const char* text) {
    std::fflush(stdout);
    std::perror(text);
}

}  // namespace okrelt
