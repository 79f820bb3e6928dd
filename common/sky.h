// Time and place on the sky, from what a work unit's header gives: Julian
// dates as UTC, J2000 equatorial coordinates as galactic ones, and sky
// frequencies as radio velocities relative to the hydrogen line.
#pragma once

#include <string>

namespace okrelt {

constexpr double UNIX_EPOCH_JD = 2440587.5;
constexpr double HYDROGEN_LINE_HZ = 1420405751.768;
constexpr double HYDROGEN_LINE_NEAR_HZ = 10.0e6;     // a sub-band this close gets a velocity
constexpr double SPEED_OF_LIGHT_KM_S = 299792.458;

// "2017-08-11T02:38:27.473Z" for a Julian date: UTC to the millisecond, or
// "" for a date outside the years 0000 to 9999, or not a number.
std::string rfc3339_of_julian_date(double jd);

// "2017-08-11 02:38:27 UTC": the same to the second, for people.
std::string utc_text_of_julian_date(double jd);

struct GalacticPosition {
    double longitude_degrees;   // l, 0 to 360
    double latitude_degrees;    // b, -90 to 90
};

// The galactic position of a J2000 right ascension (hours) and declination
// (degrees), through the IAU's rotation as the Hipparcos catalogue gives it.
GalacticPosition galactic_of_equatorial(double ra_hours, double dec_degrees);

// True if hz lies within HYDROGEN_LINE_NEAR_HZ of the hydrogen line.
bool near_hydrogen_line(double hz);

// The radial velocity, radio convention, of hydrogen seen at hz: c (f0 - f) /
// f0 in km/s, positive when receding. Topocentric: no motion of the Earth is
// taken out.
double hydrogen_radio_velocity_km_s(double hz);

}  // namespace okrelt
