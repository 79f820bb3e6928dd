// Preloaded into okrelt by a test: the system's I/O fails where it rarely
// does. OKRELT_FAIL=close: every fclose closes its file but reports EIO, as
// a file system that loses data at the last moment does. OKRELT_FAIL=read-end:
// an fread that reaches the end of a file reports EIO there instead.
#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool failing(const char* what) {
    const char* asked = std::getenv("OKRELT_FAIL");
    return asked != nullptr && std::strcmp(asked, what) == 0;
}

FILE* failed_read = nullptr;   // the stream whose end was made a read error

}  // namespace

extern "C" int fclose(FILE* file) {
    using Close = int (*)(FILE*);
    static const Close real = reinterpret_cast<Close>(dlsym(RTLD_NEXT, "fclose"));
    if (file == failed_read) failed_read = nullptr;
    const int result = real(file);
    if (!failing("close")) return result;
    errno = EIO;
    return EOF;
}

extern "C" size_t fread(void* buffer, size_t size, size_t count, FILE* file) {
    using Read = size_t (*)(void*, size_t, size_t, FILE*);
    static const Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "fread"));
    const size_t result = real(buffer, size, count, file);
    if (result < count && failing("read-end") && feof(file)) {
        failed_read = file;
        errno = EIO;
    }
    return result;
}

extern "C" int ferror(FILE* file) {
    using Error = int (*)(FILE*);
    static const Error real = reinterpret_cast<Error>(dlsym(RTLD_NEXT, "ferror"));
    return file == failed_read && failing("read-end") ? 1 : real(file);
}
