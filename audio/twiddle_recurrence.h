// The twiddles of every stage, advanced exactly as the transform's stage loop
// advances them: u starts at 1 and is multiplied by the stage's step factor,
// which the half-angle formulas derive from the previous stage's. The build
// runs this once to write the tables into the program (fft_tables.cpp); a
// program that computes them at start runs it then.
#pragma once

#include <cmath>

namespace okrelt {

// The next index in bit-reversed counting over `bits` bits: j + 1 reversed,
// given j reversed, by adding 1 at the top bit and carrying downward.
inline long next_reversed(long reversed, int bits) {
    long bit = 1L << (bits - 1);
    while (bit != 0 && (reversed & bit) != 0) {
        reversed ^= bit;
        bit >>= 1;
    }
    return reversed | bit;
}

// Fills stages 0 .. stages-1 of one direction: stage s at [2^s, 2^(s+1)), in
// butterfly order, or in bit-reversed order within the stage.
inline void fill_twiddles(bool forward, bool bit_reversed, int stages, double* out_re, double* out_im) {
    double c1 = -1.0;
    double c2 = 0.0;
    for (int stage = 0; stage < stages; ++stage) {
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

}  // namespace okrelt
