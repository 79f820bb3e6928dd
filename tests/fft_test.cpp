// The transform against a long-double DFT, and the cases where every step of
// it is exact.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "audio/fft.h"

namespace {

struct Sequence {
    std::vector<double> re;
    std::vector<double> im;
};

Sequence random_sequence(size_t n, unsigned seed) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    Sequence s;
    for (size_t k = 0; k < n; ++k) {
        s.re.push_back(value(random));
        s.im.push_back(value(random));
    }
    return s;
}

// X[k] = scale * sum x[t] e^(sign 2 pi i k t / n), in long double.
Sequence dft(const Sequence& x, int sign, long double scale) {
    const size_t n = x.re.size();
    const long double pi = 3.141592653589793238462643383279502884L;
    Sequence out;
    for (size_t k = 0; k < n; ++k) {
        long double sum_re = 0.0L;
        long double sum_im = 0.0L;
        for (size_t t = 0; t < n; ++t) {
            const long double angle = sign * 2.0L * pi * static_cast<long double>((k * t) % n) /
                                      static_cast<long double>(n);
            const long double c = std::cos(angle);
            const long double s = std::sin(angle);
            sum_re += x.re[t] * c - x.im[t] * s;
            sum_im += x.re[t] * s + x.im[t] * c;
        }
        out.re.push_back(static_cast<double>(sum_re * scale));
        out.im.push_back(static_cast<double>(sum_im * scale));
    }
    return out;
}

// The twiddles come from a half-angle recurrence whose step factors lose
// accuracy as 1 - cos(theta) cancels, so the error grows with n^2 (measured:
// about 0.002 eps n^2). The bound keeps a margin of five; a wrong twiddle or
// sign gives errors of order one.
double tolerance(size_t n) {
    const double eps = 2.220446049250313e-16;
    const double size = static_cast<double>(n);
    return 16.0 * eps + 0.01 * eps * size * size;
}

// Largest error relative to the largest magnitude of the expected sequence.
double relative_error(const Sequence& got, const Sequence& expected) {
    double largest = 0.0;
    double error = 0.0;
    for (size_t k = 0; k < got.re.size(); ++k) {
        largest = std::max(largest, std::hypot(expected.re[k], expected.im[k]));
        error = std::max(error, std::hypot(got.re[k] - expected.re[k], got.im[k] - expected.im[k]));
    }
    return largest > 0.0 ? error / largest : error;
}

TEST(Fft, MatchesALongDoubleDftForSizesUpTo1024) {
    for (int m = 0; m <= 10; ++m) {
        const size_t n = size_t{1} << m;
        const Sequence input = random_sequence(n, static_cast<unsigned>(m) + 1);
        Sequence forward = input;
        okrelt::fft(okrelt::FFT_FORWARD, m, forward.re.data(), forward.im.data());
        EXPECT_LT(relative_error(forward, dft(input, -1, 1.0L / static_cast<long double>(n))), tolerance(n)) << m;

        Sequence inverse = input;
        okrelt::fft(okrelt::FFT_INVERSE, m, inverse.re.data(), inverse.im.data());
        EXPECT_LT(relative_error(inverse, dft(input, +1, 1.0L)), tolerance(n)) << m;
    }
}

TEST(Fft, OnePointIsUnchanged) {
    for (int16_t direction : {int16_t{1}, int16_t{-1}}) {
        double re = 0.3;
        double im = -0.7;
        EXPECT_EQ(okrelt::fft(direction, 0, &re, &im), 0);
        EXPECT_EQ(re, 0.3);
        EXPECT_EQ(im, -0.7);
    }
}

TEST(Fft, ConstantInputIsExactlyOneBin) {
    const size_t n = 65536;
    std::vector<double> re(n, 1.0);
    std::vector<double> im(n, 1.0);
    okrelt::fft(okrelt::FFT_FORWARD, 16, re.data(), im.data());
    EXPECT_EQ(re[0], 1.0);
    EXPECT_EQ(im[0], 1.0);
    for (size_t k = 1; k < n; ++k) {
        ASSERT_EQ(re[k], 0.0) << k;
        ASSERT_EQ(im[k], 0.0) << k;
    }
}

TEST(Fft, SingleBinInvertsToOnesEverywhere) {
    const size_t n = 131072;
    std::vector<double> re(n, 0.0);
    std::vector<double> im(n, 0.0);
    re[0] = 1.0;
    okrelt::fft(okrelt::FFT_INVERSE, 17, re.data(), im.data());
    for (size_t k = 0; k < n; ++k) {
        ASSERT_EQ(re[k], 1.0) << k;
        ASSERT_EQ(im[k], 0.0) << k;
    }
}

TEST(Fft, ForwardThenInverseReturnsTheInput) {
    for (int m : {1, 5, 12, 16}) {
        const Sequence input = random_sequence(size_t{1} << m, 99);
        Sequence x = input;
        okrelt::fft(okrelt::FFT_FORWARD, m, x.re.data(), x.im.data());
        okrelt::fft(okrelt::FFT_INVERSE, m, x.re.data(), x.im.data());
        EXPECT_LT(relative_error(x, input), 2.0 * tolerance(size_t{1} << m)) << m;
    }
}

TEST(Fft, EveryDirectionButOneIsTheInverse) {
    const Sequence input = random_sequence(256, 5);
    Sequence minus_one = input;
    okrelt::fft(-1, 8, minus_one.re.data(), minus_one.im.data());
    for (int16_t direction : {int16_t{0}, int16_t{2}, int16_t{-7}}) {
        Sequence other = input;
        okrelt::fft(direction, 8, other.re.data(), other.im.data());
        EXPECT_EQ(other.re, minus_one.re) << direction;
        EXPECT_EQ(other.im, minus_one.im) << direction;
    }
    Sequence forward = input;
    okrelt::fft(1, 8, forward.re.data(), forward.im.data());
    EXPECT_NE(forward.re, minus_one.re);
}

}  // namespace
