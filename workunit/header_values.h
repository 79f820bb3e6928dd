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
constexpr double HOURS_PER_TURN = 24.0;               // right ascensions lie from 0 to this
constexpr double MAX_ABS_LATITUDE = 90.0;             // degrees, for declinations and places alike
constexpr double MAX_ABS_LONGITUDE = 360.0;           // east or west, as headers count it
constexpr double MAX_ABS_ALTITUDE = 100000.0;         // metres: 100 km, above any telescope

// True if twice the sub-band rate, rounded, is a sound rate from
// MIN_SOUND_RATE to MAX_SOUND_RATE (500 to 192000 Hz a sub-band).
bool plausible_subband_rate(double hz);

// True for a finite centre frequency above 0 and below MAX_CENTER_HZ.
bool plausible_center_hz(double hz);

// True for a Julian date from EARLIEST_JULIAN_DATE to LATEST_JULIAN_DATE.
bool plausible_julian_date(double jd);

// True for a right ascension from 0 up to HOURS_PER_TURN hours and a
// declination within MAX_ABS_LATITUDE degrees.
bool plausible_ra_hours(double hours);
bool plausible_dec_degrees(double degrees);

// True for a place on the Earth's grid, and for an altitude within
// MAX_ABS_ALTITUDE of sea level.
bool plausible_geolocation(const Geolocation& place);
bool plausible_altitude(double metres);

// Leaves out each of the sub-band rate, the centre frequency, the Julian
// date, the pointing and the receiver's place that lies outside its range,
// with a note through the message sink; a rate left out falls back to the
// default.
void leave_out_implausible_values(WorkUnitInfo* info);

}  // namespace okrelt
