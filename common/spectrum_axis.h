// Frequencies in a sub-band's spectra: a transform bin's offset from the
// sub-band's centre, and an offset's sky frequency. Every transform here has
// a power of two of points, so a bin's width is exact and the order of the
// products changes no bit.
#pragma once

namespace okrelt {

constexpr double HZ_PER_MHZ = 1.0e6;

// The width in Hz of a bin of a transform of points samples taken at rate
// (complex samples a second).
inline double bin_width_hz(double rate, long points) { return rate / static_cast<double>(points); }

// A bin in the transform's order (0 .. points - 1, the upper half being the
// negative frequencies) as a signed bin number, 0 at the centre.
inline long signed_bin(long bin, long points) { return bin < points / 2 ? bin : bin - points; }

// The offset from the centre of a bin in the transform's order.
inline double transform_bin_hz(long bin, long points, double rate) {
    return static_cast<double>(signed_bin(bin, points)) * rate / static_cast<double>(points);
}

// The offset from the centre of entry index of a spectrum in sky order, from
// the most negative frequency up, entry points / 2 at the centre.
inline double sky_order_bin_hz(long index, long points, double rate) {
    return static_cast<double>(index - points / 2) * rate / static_cast<double>(points);
}

// The sky frequency in MHz of an offset from a sub-band centred at center_hz.
inline double sky_mhz(double center_hz, double offset_hz) { return (center_hz + offset_hz) / HZ_PER_MHZ; }

}  // namespace okrelt
