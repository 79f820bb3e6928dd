// The solar-system barycentre: how the receiver moves relative to it along the
// line of sight to a source, and a frequency and its drift seen at the
// telescope carried over to it, for a search that compares hits taken on
// different days. Positions and motions come from ERFA (liberfa).
//
// The velocity is the observer's kinematic velocity in the BCRS: the Earth's
// centre from ERFA's analytical ephemeris (eraEpv00, TDB; within about 5 mm/s of
// JPL's DE405 from 1900 to 2100) plus the site's rotation about the Earth's
// axis (eraPvtob with the Earth rotation angle, taken into the GCRS through the
// IAU 2006/2000A celestial-to-intermediate matrix), projected on the unit vector
// to the source. Two approximations: UT1 is taken as UTC (|UT1 - UTC| < 0.9 s,
// up to 3 cm/s at the site's rotation) and the pole does not wander (polar
// motion 0, about 1 mm/s at most). Left out as well are the special-relativistic factor
// gamma and the gravitational redshift at the site: together a nearly constant
// +4.6 to +4.7 m/s (1.5e-8 of the frequency, near the rate TDB differs from TCB
// by) that astropy's radial_velocity_correction(kind='barycentric') includes;
// the velocity here is that correction less them (tools/barycentric_reference.py).
//
// Signs: velocity_m_s is positive when the observer moves toward the source,
// and then a tone is seen at the telescope above its barycentric frequency:
// f_topo = f_bary * (1 + v/c), first order in v/c (the second-order term is
// about 1e-8 of the frequency). Drifts are per second of the time at which
// the signal would reach the barycentre: an arrival at the telescope at t
// reaches the barycentre at t + r.n/c, so those seconds are (1 + v/c) of the
// telescope's.
#pragma once

namespace okrelt {

// The acceleration is the change of the velocity between this long before and after the moment, over twice it.
constexpr double ACCELERATION_HALF_STEP_S = 10.0;
// UTC began on 1960 January 1; before it ERFA has no leap seconds to go by.
constexpr double UTC_START_JD = 2436934.5;

// Where the receiver stands: WGS84 geodetic.
struct Site {
    double longitude_deg;   // east positive
    double latitude_deg;    // north positive
    double altitude_m;      // above the WGS84 ellipsoid
};

// The observer's motion relative to the solar-system barycentre, projected on the line of sight to a
// source: velocity in m/s (positive = observer moving toward the source) and its rate of change in m/s^2.
struct LineOfSightMotion {
    double velocity_m_s = 0.0;
    double acceleration_m_s2 = 0.0;   // per second of UTC, by a centred difference over 2 * ACCELERATION_HALF_STEP_S
};

// Observer motion at UTC Julian date jd_utc for a source at J2000 (ICRS) right ascension ra_hours and
// declination dec_deg. 0, or 1 where ERFA refuses the date (nothing printed): outside its calendar, or
// before UTC_START_JD. Dates after ERFA's leap-second table are taken with its last leap second.
[[nodiscard]] int observer_motion(double jd_utc, const Site& site, double ra_hours, double dec_deg, LineOfSightMotion* motion);

// A frequency seen at the telescope, and its drift, as they would be seen at the barycentre.
// f_topo / (1 + v/c): below f_topo when the observer moves toward the source.
double barycentric_frequency(double topocentric_hz, const LineOfSightMotion& motion);
// d f_bary / d t_bary = (f_dot / (1 + v/c) - f_topo * (a/c) / (1 + v/c)^2) / (1 + v/c), in Hz/s.
double barycentric_drift(double topocentric_hz, double topocentric_drift_hz_s, const LineOfSightMotion& motion);

}  // namespace okrelt
