#include "common/barycentre.h"

#include <erfa.h>
#include <erfam.h>

#include <cmath>

namespace okrelt {

namespace {

constexpr double DEGREES_PER_HOUR = 15.0;
constexpr double METRES_PER_KM = 1000.0;
constexpr double METRES_PER_SECOND_PER_AU_PER_DAY = ERFA_DAU / ERFA_DAYSEC;

// The site in ERFA's units: east longitude and geodetic latitude in radians, height in metres.
struct SiteRadians {
    double longitude;
    double latitude;
    double height;
};

// One moment on the time scales the motion needs, each an ERFA two-part Julian date whose second part is small,
// so that seconds added to it keep their precision.
struct Moment {
    double tt1, tt2;
    double tdb1, tdb2;
    double ut1_1, ut1_2;   // UTC taken for UT1
};

// The moment of a UTC Julian date at the site. 0, or 1 where ERFA refuses the date or the site.
int moment_of_utc(double jd_utc, const SiteRadians& site, Moment* moment) {
    if (jd_utc < UTC_START_JD) return 1;   // ERFA would warn and count no leap seconds
    double tai1 = 0.0;
    double tai2 = 0.0;
    // +1, a year past ERFA's table, is taken: the table's last leap second still holds then.
    if (eraUtctai(jd_utc, 0.0, &tai1, &tai2) < 0) return 1;
    if (eraTaitt(tai1, tai2, &moment->tt1, &moment->tt2) != 0) return 1;
    if (eraUtcut1(jd_utc, 0.0, 0.0, &moment->ut1_1, &moment->ut1_2) < 0) return 1;
    double geocentric[3] = {0.0, 0.0, 0.0};
    if (eraGd2gc(ERFA_WGS84, site.longitude, site.latitude, site.height, geocentric) != 0) return 1;
    // TDB - TT, with the site's few microseconds; taken as constant over the acceleration's interval.
    const double ut1_day_fraction = std::fmod(moment->ut1_1 + 0.5 + moment->ut1_2, 1.0);
    const double tdb_minus_tt_s = eraDtdb(moment->tt1, moment->tt2, ut1_day_fraction, site.longitude,
                                          std::hypot(geocentric[0], geocentric[1]) / METRES_PER_KM,
                                          geocentric[2] / METRES_PER_KM);
    moment->tdb1 = moment->tt1;
    moment->tdb2 = moment->tt2 + tdb_minus_tt_s / ERFA_DAYSEC;
    return 0;
}

// The observer's velocity relative to the barycentre, in m/s on BCRS axes, offset_s seconds after the moment.
void observer_velocity(const Moment& moment, double offset_s, const SiteRadians& site, double velocity[3]) {
    const double offset_days = offset_s / ERFA_DAYSEC;
    double heliocentric[2][3];
    double barycentric[2][3];
    eraEpv00(moment.tdb1, moment.tdb2 + offset_days, heliocentric, barycentric);   // +1 outside 1900-2100: still usable
    const double rotation_angle = eraEra00(moment.ut1_1, moment.ut1_2 + offset_days);
    const double tio_locator = eraSp00(moment.tt1, moment.tt2 + offset_days);
    double site_cirs[2][3];
    eraPvtob(site.longitude, site.latitude, site.height, 0.0, 0.0, tio_locator, rotation_angle, site_cirs);
    double celestial_to_intermediate[3][3];
    eraC2i06a(moment.tt1, moment.tt2 + offset_days, celestial_to_intermediate);
    double site_gcrs[3];
    eraTrxp(celestial_to_intermediate, site_cirs[1], site_gcrs);
    for (int axis = 0; axis < 3; ++axis) {
        velocity[axis] = barycentric[1][axis] * METRES_PER_SECOND_PER_AU_PER_DAY + site_gcrs[axis];
    }
}

}  // namespace

int observer_motion(double jd_utc, const Site& site, double ra_hours, double dec_deg, LineOfSightMotion* motion) {
    const SiteRadians where{site.longitude_deg * ERFA_DD2R, site.latitude_deg * ERFA_DD2R, site.altitude_m};
    Moment moment{};
    if (moment_of_utc(jd_utc, where, &moment) != 0) return 1;
    double toward_source[3];
    eraS2c(ra_hours * DEGREES_PER_HOUR * ERFA_DD2R, dec_deg * ERFA_DD2R, toward_source);
    double velocity[3];
    observer_velocity(moment, 0.0, where, velocity);
    const double now = eraPdp(velocity, toward_source);
    observer_velocity(moment, -ACCELERATION_HALF_STEP_S, where, velocity);
    const double before = eraPdp(velocity, toward_source);
    observer_velocity(moment, ACCELERATION_HALF_STEP_S, where, velocity);
    const double after = eraPdp(velocity, toward_source);
    motion->velocity_m_s = now;
    motion->acceleration_m_s2 = (after - before) / (2.0 * ACCELERATION_HALF_STEP_S);
    return 0;
}

double barycentric_frequency(double topocentric_hz, const LineOfSightMotion& motion) {
    return topocentric_hz / (1.0 + motion.velocity_m_s / ERFA_CMPS);
}

double barycentric_drift(double topocentric_hz, double topocentric_drift_hz_s, const LineOfSightMotion& motion) {
    const double stretch = 1.0 + motion.velocity_m_s / ERFA_CMPS;   // barycentre seconds per telescope second
    const double per_telescope_second =
        topocentric_drift_hz_s / stretch - topocentric_hz * (motion.acceleration_m_s2 / ERFA_CMPS) / (stretch * stretch);
    return per_telescope_second / stretch;
}

}  // namespace okrelt
