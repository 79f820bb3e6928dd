#include "search/correction.h"

#include "common/barycentre.h"
#include "common/numbers.h"
#include "common/spectrum_axis.h"

namespace okrelt {

int correct_hits_to_barycentre(const WorkUnitInfo& info, SearchResult* result) {
    std::string* missing = &result->uncorrected_because;
    if (!info.time_recorded_jd) {
        *missing = "the recording's time";
    } else if (!info.geolocation) {
        *missing = "the telescope's place";
    } else if (!info.start_ra_hours || !info.start_dec_degrees) {
        *missing = "the direction (RA and Dec)";
    } else if (!info.center_hz) {
        *missing = "the sky frequency";
    } else {
        missing->clear();
    }
    if (!missing->empty()) return 1;
    const Geolocation& place = *info.geolocation;
    const Site site{place.longitude, place.latitude, place.altitude.value_or(0.0)};
    LineOfSightMotion motion;
    if (observer_motion(*info.time_recorded_jd, site, *info.start_ra_hours, *info.start_dec_degrees, &motion) != 0) {
        *missing = "a recording time the ephemeris covers";
        return 1;
    }
    for (Hit& hit : result->hits) {
        const double sky_hz = *info.center_hz + hit.offset_hz;
        hit.barycentric_mhz = barycentric_frequency(sky_hz, motion) / HZ_PER_MHZ;
        hit.barycentric_drift_hz_s = barycentric_drift(sky_hz, hit.drift_hz_s, motion);
    }
    return 0;
}

}  // namespace okrelt
