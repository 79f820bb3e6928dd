// The waterfall picture, drawn with cairo and written by libpng: the spectrogram in a perceptually
// uniform colour map from the noise floor (the median power) to the strongest
// pixel, time down and frequency across (0 Hz, the sub-band's centre, in the
// middle), axes in seconds, Hz from the centre and, where the header gives
// the centre, MHz of sky frequency, a title from the header, a colour bar in
// dB above the floor, and a ring on the RFI factor's peak.
#pragma once

#include <cstdint>
#include <vector>

#include "waterfall/waterfall.h"
#include "workunit/reader.h"

namespace okrelt {

constexpr int PICTURE_WIDTH = 1200;
constexpr int PICTURE_HEIGHT = 1100;
constexpr int PLOT_LEFT = 90;       // the spectrogram's area
constexpr int PLOT_TOP = 130;
constexpr int PLOT_WIDTH = 1024;
constexpr int PLOT_HEIGHT = 896;

// Draws the picture and writes it as PNG to path: through a temporary file
// beside it that is renamed into place, so that a failure leaves no partial
// picture. 0, or 1 after printing why on standard error.
[[nodiscard]] int draw_waterfall(const Spectrogram& spectrogram, const std::vector<BlockPeak>& peaks,
                                 const WorkUnitInfo& info, const char* path);

}  // namespace okrelt
