#include "workunit/header_values.h"

#include <cmath>

#include "common/messages.h"

namespace okrelt {

bool plausible_subband_rate(double hz) {
    const double sound_rate = std::round(2.0 * hz);
    return sound_rate >= MIN_SOUND_RATE && sound_rate <= MAX_SOUND_RATE;
}

bool plausible_center_hz(double hz) { return hz > 0.0 && hz < MAX_CENTER_HZ; }

bool plausible_julian_date(double jd) { return jd >= EARLIEST_JULIAN_DATE && jd <= LATEST_JULIAN_DATE; }

void leave_out_implausible_values(WorkUnitInfo* info) {
    if (info->subband_rate_known && !plausible_subband_rate(info->subband_rate)) {
        tell(MESSAGE_NOTE, "The header's sub-band rate, %g Hz, lies outside %g to %g Hz: the usual %.10g Hz is taken.\n",
             info->subband_rate, MIN_SOUND_RATE / 2.0, MAX_SOUND_RATE / 2.0, DEFAULT_SUBBAND_RATE);
        info->subband_rate = DEFAULT_SUBBAND_RATE;
        info->subband_rate_known = false;
    }
    if (info->center_known && !plausible_center_hz(info->center_hz)) {
        tell(MESSAGE_NOTE, "The header's centre frequency, %g Hz, lies outside 0 to 1 THz: left out.\n", info->center_hz);
        info->center_known = false;
    }
    if (info->time_recorded_jd_known && !plausible_julian_date(info->time_recorded_jd)) {
        tell(MESSAGE_NOTE, "The header's recording time, Julian date %g, lies outside 1940 to 2100: left out.\n",
             info->time_recorded_jd);
        info->time_recorded_jd_known = false;
        // A classic header's time is that Julian date, the calendar date after it.
        if (!info->later_format) info->time_recorded.clear();
    }
}

}  // namespace okrelt
