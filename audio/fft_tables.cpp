// The twiddle tables, computed by the build with the transform's own
// recurrence (twiddle_recurrence.h) and kept in read-only data: nothing to
// compute at start, and only the pages a run touches are read in.
#include "audio/fft_internal.h"

namespace okrelt {

namespace {

const TwiddleTables tables =
#include "fft_twiddles.inc"
    ;

}  // namespace

const TwiddleTables* twiddle_tables() { return &tables; }

}  // namespace okrelt
