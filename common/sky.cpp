#include "common/sky.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace okrelt {

namespace {

constexpr double SECONDS_PER_DAY = 86400.0;
constexpr double MILLISECONDS_PER_DAY = SECONDS_PER_DAY * 1000.0;
constexpr int64_t MILLISECONDS_PER_SECOND = 1000;
constexpr double DEGREES_PER_HOUR = 15.0;
constexpr double FULL_TURN_DEGREES = 360.0;
constexpr int CALENDAR_YEAR_ZERO = 1900;   // struct tm counts years from here
// The years written with four digits, 0000 to 9999: beyond them a date is
// no RFC 3339 date, and far beyond them its milliseconds pass 64 bits.
constexpr double FIRST_FOUR_DIGIT_JD = 1721059.5;   // 0000-01-01 00:00 UTC
constexpr double END_OF_FOUR_DIGIT_JD = 5373484.5;  // 10000-01-01 00:00 UTC

// J2000 equatorial to galactic axes (Hipparcos catalogue, volume 1, 1.5.3).
constexpr double EQUATORIAL_TO_GALACTIC[3][3] = {
    {-0.0548755604162154, -0.8734370902348850, -0.4838350155487132},
    {+0.4941094278755837, -0.4448296299600112, +0.7469822444972189},
    {-0.8676661490190047, -0.1980763734312015, +0.4559837761750669},
};

double radians(double degrees) { return degrees * M_PI / 180.0; }
double degrees(double radians) { return radians * 180.0 / M_PI; }

// The calendar fields of a Julian date, rounded to the millisecond. False
// for a date outside the years 0000 to 9999 (NaN too), or where gmtime
// cannot hold it.
bool utc_fields(double jd, std::tm* utc, int* milliseconds) {
    if (!(jd >= FIRST_FOUR_DIGIT_JD && jd < END_OF_FOUR_DIGIT_JD)) return false;
    const auto since_epoch = static_cast<int64_t>(std::llround((jd - UNIX_EPOCH_JD) * MILLISECONDS_PER_DAY));
    int64_t seconds = since_epoch / MILLISECONDS_PER_SECOND;
    int64_t rest = since_epoch % MILLISECONDS_PER_SECOND;
    if (rest < 0) {
        rest += MILLISECONDS_PER_SECOND;
        --seconds;
    }
    const auto moment = static_cast<std::time_t>(seconds);
    *milliseconds = static_cast<int>(rest);
    return gmtime_r(&moment, utc) != nullptr;
}

}  // namespace

std::string rfc3339_of_julian_date(double jd) {
    std::tm utc{};
    int milliseconds = 0;
    if (!utc_fields(jd, &utc, &milliseconds)) return "";
    char text[80];   // room for any year the calendar fields can hold
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + CALENDAR_YEAR_ZERO,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, milliseconds);
    return text;
}

std::string utc_text_of_julian_date(double jd) {
    std::tm utc{};
    int milliseconds = 0;
    if (!utc_fields(jd, &utc, &milliseconds)) return "";
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", utc.tm_year + CALENDAR_YEAR_ZERO,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

GalacticPosition galactic_of_equatorial(double ra_hours, double dec_degrees) {
    const double ra = radians(ra_hours * DEGREES_PER_HOUR);
    const double dec = radians(dec_degrees);
    const double equatorial[3] = {std::cos(dec) * std::cos(ra), std::cos(dec) * std::sin(ra), std::sin(dec)};
    double galactic[3] = {0.0, 0.0, 0.0};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) galactic[row] += EQUATORIAL_TO_GALACTIC[row][column] * equatorial[column];
    }
    double longitude = degrees(std::atan2(galactic[1], galactic[0]));
    if (longitude < 0.0) longitude += FULL_TURN_DEGREES;
    const double latitude = degrees(std::asin(std::fmax(-1.0, std::fmin(1.0, galactic[2]))));
    return {longitude, latitude};
}

bool near_hydrogen_line(double hz) { return std::fabs(hz - HYDROGEN_LINE_HZ) <= HYDROGEN_LINE_NEAR_HZ; }

double hydrogen_radio_velocity_km_s(double hz) {
    return SPEED_OF_LIGHT_KM_S * (HYDROGEN_LINE_HZ - hz) / HYDROGEN_LINE_HZ;
}

}  // namespace okrelt
