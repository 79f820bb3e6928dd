#include "audio/fft_internal.h"
#include "audio/twiddle_recurrence.h"

namespace okrelt {

void compute_twiddle_tables(TwiddleTables* tables) {
    fill_twiddles(false, false, TWIDDLE_STAGES, tables->inverse_re, tables->inverse_im);
    fill_twiddles(true, true, TWIDDLE_STAGES, tables->forward_re, tables->forward_im);
}

}  // namespace okrelt
