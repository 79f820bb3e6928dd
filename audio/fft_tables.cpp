#include <cmath>

#include "audio/fft_internal.h"

namespace okrelt {

namespace {

// The next index in bit-reversed counting over `bits` bits: j + 1 reversed,
// given j reversed, by adding 1 at the top bit and carrying downward.
long next_reversed(long reversed, int bits) {
    long bit = 1L << (bits - 1);
    while (bit != 0 && (reversed & bit) != 0) {
        reversed ^= bit;
        bit >>= 1;
    }
    return reversed | bit;
}

// The twiddles of one direction, advanced exactly as the stage loop advances
// them: u starts at 1 and is multiplied by the stage's step factor, which the
// half-angle formulas derive from the previous stage's.
void fill_direction(bool forward, double* out_re, double* out_im, bool bit_reversed) {
    double c1 = -1.0;
    double c2 = 0.0;
    for (int stage = 0; stage < TWIDDLE_STAGES; ++stage) {
        const long first = 1L << stage;
        double u1 = 1.0;
        double u2 = 0.0;
        long reversed = 0;
        for (long j = 0; j < first; ++j) {
            const long at = first + (bit_reversed ? reversed : j);
            if (stage > 0) reversed = next_reversed(reversed, stage);
            out_re[at] = u1;
            out_im[at] = u2;
            const double z = u1 * c1 - u2 * c2;
            u2 = u1 * c2 + u2 * c1;
            u1 = z;
        }
        c2 = std::sqrt((1.0 - c1) / 2.0);
        if (forward) c2 = -c2;
        c1 = std::sqrt((1.0 + c1) / 2.0);
    }
}

TwiddleTables tables;

bool build_tables() {
    fill_direction(false, tables.inverse_re, tables.inverse_im, false);
    fill_direction(true, tables.forward_re, tables.forward_im, true);
    return true;
}

}  // namespace

const TwiddleTables* twiddle_tables() {
    static const bool built = build_tables();
    (void)built;
    return &tables;
}

}  // namespace okrelt
