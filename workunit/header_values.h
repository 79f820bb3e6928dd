// Header values in range: what a work unit's header says about its
// recording is kept only where a receiver could have recorded it, the same
// for both formats, so that no rate, frequency or date far out of range
// reaches a file name, a WAV header, the metadata or the picture.
#pragma once

#include "workunit/reader.h"

namespace okrelt {

constexpr double MAX_CENTER_HZ = 1.0e12;              // 1 THz, far above any radio telescope's band
constexpr double EARLIEST_JULIAN_DATE = 2429629.5;    // 1940-01-01 00:00 UTC
constexpr double LATEST_JULIAN_DATE = 2488069.5;      // 2100-01-01 00:00 UTC

// True if twice the sub-band rate, rounded, is a sound rate from
// MIN_SOUND_RATE to MAX_SOUND_RATE (500 to 192000 Hz a sub-band).
bool plausible_subband_rate(double hz);

// True for a finite centre frequency above 0 and below MAX_CENTER_HZ.
bool plausible_center_hz(double hz);

// True for a Julian date from EARLIEST_JULIAN_DATE to LATEST_JULIAN_DATE.
bool plausible_julian_date(double jd);

// Leaves out (known = false) each of the sub-band rate, the centre
// frequency and the Julian date that lies outside its range, with a note
// through the message sink; a rate left out falls back to the default.
void leave_out_implausible_values(WorkUnitInfo* info);

}  // namespace okrelt
