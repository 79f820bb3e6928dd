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

bool plausible_ra_hours(double hours) { return hours >= 0.0 && hours < HOURS_PER_TURN; }

bool plausible_dec_degrees(double degrees) { return std::fabs(degrees) <= MAX_ABS_LATITUDE; }

bool plausible_geolocation(const Geolocation& place) {
    return std::fabs(place.latitude) <= MAX_ABS_LATITUDE && std::fabs(place.longitude) <= MAX_ABS_LONGITUDE;
}

bool plausible_altitude(double metres) { return std::fabs(metres) <= MAX_ABS_ALTITUDE; }

namespace {

// Empties a value out of its range, with a note naming it.
void check_range(std::optional<double>* value, bool (*plausible)(double), const char* what, const char* range) {
    if (*value && !plausible(**value)) {
        tell(MessageKind::NOTE, "The header's %s, %g, lies outside %s: left out.\n", what, **value, range);
        value->reset();
    }
}

}  // namespace

void leave_out_implausible_values(WorkUnitInfo* info) {
    if (info->subband_rate_known && !plausible_subband_rate(info->subband_rate)) {
        tell(MessageKind::NOTE, "The header's sub-band rate, %g Hz, lies outside %g to %g Hz: the usual %.10g Hz is taken.\n",
             info->subband_rate, MIN_SOUND_RATE / 2.0, MAX_SOUND_RATE / 2.0, DEFAULT_SUBBAND_RATE);
        info->subband_rate = DEFAULT_SUBBAND_RATE;
        info->subband_rate_known = false;
    }
    if (info->center_hz && !plausible_center_hz(*info->center_hz)) {
        tell(MessageKind::NOTE, "The header's centre frequency, %g Hz, lies outside 0 to 1 THz: left out.\n", *info->center_hz);
        info->center_hz.reset();
    }
    if (info->time_recorded_jd && !plausible_julian_date(*info->time_recorded_jd)) {
        tell(MessageKind::NOTE, "The header's recording time, Julian date %g, lies outside 1940 to 2100: left out.\n",
             *info->time_recorded_jd);
        info->time_recorded_jd.reset();
        // A classic header's time is that Julian date, the calendar date after it.
        if (!info->later_format) info->time_recorded.clear();
    }
    check_range(&info->start_ra_hours, plausible_ra_hours, "start right ascension", "0 to 24 h");
    check_range(&info->end_ra_hours, plausible_ra_hours, "end right ascension", "0 to 24 h");
    check_range(&info->start_dec_degrees, plausible_dec_degrees, "start declination", "-90 to +90 degrees");
    check_range(&info->end_dec_degrees, plausible_dec_degrees, "end declination", "-90 to +90 degrees");
    if (info->geolocation && !plausible_geolocation(*info->geolocation)) {
        tell(MessageKind::NOTE, "The header's telescope place (longitude %g, latitude %g) lies off the Earth: left out.\n",
             info->geolocation->longitude, info->geolocation->latitude);
        info->geolocation.reset();
    }
    if (info->geolocation) {
        check_range(&info->geolocation->altitude, plausible_altitude, "telescope altitude", "-100 to +100 km");
    }
}

}  // namespace okrelt
