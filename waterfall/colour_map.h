// The waterfall's colour map: a perceptually uniform scale, so that equal
// steps in dB look like equal steps in brightness.
#pragma once

#include <cstdint>

namespace okrelt {

constexpr int COLOUR_MAP_SIZE = 256;

// Red, green and blue (0 to 1) of entry 0 (lowest) to COLOUR_MAP_SIZE - 1.
extern const float VIRIDIS[COLOUR_MAP_SIZE][3];

// Entry index of the colour map as a pixel of an RGB24 surface.
uint32_t map_colour(int index);

}  // namespace okrelt
