#include "search/correction.h"

#include "common/barycentre.h"
#include "common/numbers.h"
#include "common/spectrum_axis.h"

namespace okrelt {

int correct_hits_to_barycentre(const WorkUnitInfo& info, SearchResult* result) {
    std::string* missing = &result->uncorrected_because;
    double ra_hours = 0.0;
    double dec_degrees = 0.0;
    if (!info.time_recorded_jd_known) {
        *missing = "the recording's time";
    } else if (!info.geolocation_known) {
        *missing = "the telescope's place";
    } else if (!parse_real(info.start_ra, &ra_hours) || !parse_real(info.start_dec, &dec_degrees)) {
        *missing = "the direction (RA and Dec)";
    } else if (!info.center_known) {
        *missing = "the sky frequency";
    } else {
        missing->clear();
    }
    if (!missing->empty()) return 1;
    const Site site{info.longitude, info.latitude, info.altitude_known ? info.altitude : 0.0};
    LineOfSightMotion motion;
    if (observer_motion(info.time_recorded_jd, site, ra_hours, dec_degrees, &motion) != 0) {
        *missing = "a recording time the ephemeris covers";
        return 1;
    }
    for (Hit& hit : result->hits) {
        const double sky_hz = info.center_hz + hit.offset_hz;
        hit.barycentric_mhz = barycentric_frequency(sky_hz, motion) / HZ_PER_MHZ;
        hit.barycentric_drift_hz_s = barycentric_drift(sky_hz, hit.drift_hz_s, motion);
    }
    return 0;
}

}  // namespace okrelt
