// The twiddle tables computed on first use, for a program whose speed
// matters less than its size: the same recurrence as the build's tables, so
// the same bits (checked by the tests), without 4 MB of them in the program.
// Linked as an object, it comes before the library's fft_tables.cpp, whose
// tables the linker then leaves out.
#include "audio/fft_internal.h"

namespace okrelt {

namespace {

TwiddleTables computed;   // zero pages until filled: no room in the program file

}  // namespace

const TwiddleTables* twiddle_tables() {
    // Initialised once, even when two threads transform at once.
    static const TwiddleTables* const tables = (compute_twiddle_tables(&computed), &computed);
    return tables;
}

}  // namespace okrelt
