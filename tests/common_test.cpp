// The common layer's own arithmetic: the observer's motion relative to the
// solar-system barycentre against astropy, frequencies and drifts carried to
// the barycentre against values worked out by hand, the sky's coordinates and
// dates, and the command-line grammar; where its threads may run, and the
// scratch memory steps share.
#include "common/background.h"
#include "common/barycentre.h"
#include "common/command_line.h"
#include "common/memory.h"
#include "common/sky.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace okrelt {
namespace {

const Site ARECIBO{-66.7528, 18.3464, 497.0};

// From tools/barycentric_reference.py (astropy 5.2.1, Debian 12): the "as_okrelt" velocity, astropy's
// barycentric Earth velocity plus its GCRS site velocity projected on the ICRS direction, with UT1 = UTC and no
// polar motion, and its centred difference over +-10 s. astropy's radial_velocity_correction for the same
// cases is larger by 4.710, 4.555 and 4.741 m/s (gamma and the site's gravitational redshift), and with its
// IERS table the velocity moves by -6.7, -8.7 and -4.6 mm/s.
struct AstropyCase {
    double jd_utc;
    double ra_hours;
    double dec_deg;
    double velocity_m_s;
    double acceleration_m_s2;
};
constexpr AstropyCase ASTROPY_CASES[] = {
    {2453444.75, 5.5, 20.0, -30270.507698, 1.233284031e-02},           // 2005-03-15 06:00 UTC
    {2455806.0625, 18.0, -10.0, -26681.755535, 2.646858340e-02},       // 2011-09-01 13:30 UTC
    {2458838.4270833335, 12.0, 35.0, 24940.716600, 2.511379381e-02},   // 2019-12-20 22:15 UTC
};
constexpr double VELOCITY_TOLERANCE_M_S = 0.001;
constexpr double ACCELERATION_TOLERANCE_M_S2 = 1.0e-9;

TEST(ObserverMotion, MatchesAstropy) {
    for (const AstropyCase& reference : ASTROPY_CASES) {
        SCOPED_TRACE(reference.jd_utc);
        LineOfSightMotion motion;
        ASSERT_EQ(observer_motion(reference.jd_utc, ARECIBO, reference.ra_hours, reference.dec_deg, &motion), 0);
        EXPECT_NEAR(motion.velocity_m_s, reference.velocity_m_s, VELOCITY_TOLERANCE_M_S);
        EXPECT_NEAR(motion.acceleration_m_s2, reference.acceleration_m_s2, ACCELERATION_TOLERANCE_M_S2);
    }
}

TEST(ObserverMotion, RefusesDatesBeforeUtc) {
    LineOfSightMotion motion{1.0, 2.0};
    EXPECT_EQ(observer_motion(UTC_START_JD - 1.0, ARECIBO, 5.5, 20.0, &motion), 1);
    EXPECT_EQ(observer_motion(-1.0e9, ARECIBO, 5.5, 20.0, &motion), 1);
    EXPECT_EQ(motion.velocity_m_s, 1.0);
    EXPECT_EQ(motion.acceleration_m_s2, 2.0);
}

// v = c/10000 toward the source and a = c * 1e-10 m/s^2: 1 + v/c = 1.0001, a/c = 1e-10 per second.
constexpr LineOfSightMotion TOWARD{29979.2458, 0.0299792458};

TEST(BarycentricFrequency, DividesByOnePlusBeta) {
    EXPECT_NEAR(barycentric_frequency(1420.0e6, TOWARD), 1419858014.1985801, 1.0e-6);   // 1420e6 / 1.0001
}

TEST(BarycentricDrift, TakesAccelerationAndBarycentreSeconds) {
    // (0.5 / 1.0001 - 1420e6 * 1e-10 / 1.0001^2) / 1.0001 = (0.49995000500 - 0.14197160426) / 1.0001
    EXPECT_NEAR(barycentric_drift(1420.0e6, 0.5, TOWARD), 0.35794260647942, 1.0e-12);
}

// A tone steady at the barycentre is seen at f (1 + v/c) drifting by f a/c: carried back, it is steady again.
TEST(BarycentricDrift, SteadyToneThereIsSteady) {
    const AstropyCase& when = ASTROPY_CASES[0];
    LineOfSightMotion motion;
    ASSERT_EQ(observer_motion(when.jd_utc, ARECIBO, when.ra_hours, when.dec_deg, &motion), 0);
    const double tone_hz = 1420.0e6;
    const double c_m_s = SPEED_OF_LIGHT_KM_S * 1000.0;
    const double seen_hz = tone_hz * (1.0 + motion.velocity_m_s / c_m_s);
    const double seen_drift_hz_s = tone_hz * motion.acceleration_m_s2 / c_m_s;
    EXPECT_NEAR(seen_drift_hz_s, 0.0584, 0.0001);   // not nothing: 1420e6 * 0.01233 / c
    EXPECT_NEAR(barycentric_frequency(seen_hz, motion), tone_hz, 1.0e-6);
    EXPECT_NEAR(barycentric_drift(seen_hz, seen_drift_hz_s, motion), 0.0, 1.0e-15);
}

}  // namespace
}  // namespace okrelt

namespace {

// The options' grammar as getopt_long reads it: bundles with a value,
// --name=value and abbreviations, values that start with "-", two-valued
// options, options after operands, -- ending the options, and refusals.
struct Parsed {
    int status = 0;
    okrelt::ParsedCommandLine line;
};

Parsed parse(std::vector<std::string> words) {
    static const std::vector<okrelt::OptionSpec> KNOWN = {
        {1, 'q', "quiet", 0}, {2, 'o', "output", 1}, {3, 0, "constant", 2}, {4, 0, "sky-order", 0},
        {5, 0, "sky-map", 0}};
    words.insert(words.begin(), "prog");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    Parsed parsed;
    parsed.status = okrelt::parse_command_line("prog", static_cast<int>(words.size()), argv.data(), KNOWN, &parsed.line);
    return parsed;   // its values point into words, gone: only status and operands are read
}

// A thread may run wherever its caller may; one that works beside its
// caller, everywhere but the processor its caller was on, where there are
// others: on every processor, and on the one a caller is held to.
TEST(Background, RunsWhereItsCallerMayBesideItWherePossible) {
    cpu_set_t caller;
    ASSERT_EQ(sched_getaffinity(0, sizeof caller, &caller), 0);
    int first = 0;
    while (!CPU_ISSET(first, &caller)) ++first;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    for (const cpu_set_t& allowed : {caller, one}) {
        ASSERT_EQ(sched_setaffinity(0, sizeof allowed, &allowed), 0);
        cpu_set_t anywhere;
        cpu_set_t beside;
        {
            const okrelt::Background thread([&anywhere] { (void)sched_getaffinity(0, sizeof anywhere, &anywhere); });
            const auto partner = okrelt::Background::try_start(
                [&beside] { (void)sched_getaffinity(0, sizeof beside, &beside); },
                okrelt::Background::Placement::BESIDE_CALLER);
            ASSERT_TRUE(partner);
        }
        EXPECT_TRUE(CPU_EQUAL(&anywhere, &allowed));
        cpu_set_t within;
        CPU_AND(&within, &beside, &allowed);
        EXPECT_TRUE(CPU_EQUAL(&within, &beside));
        const int count = CPU_COUNT(&allowed);
        EXPECT_EQ(CPU_COUNT(&beside), count > 1 ? count - 1 : 1);
    }
    ASSERT_EQ(sched_setaffinity(0, sizeof caller, &caller), 0);
}

// Each step finds zeros where the one before wrote, in the same mapping
// while it is large enough, and in a new one once it is not.
TEST(ScratchMemory, GivesZerosReusedOrReplaced) {
    okrelt::ScratchMemory scratch;
    const size_t sizes[] = {1000, okrelt::HUGE_PAGE_BYTES, okrelt::HUGE_PAGE_BYTES + 1};
    void* before = nullptr;
    for (const size_t bytes : sizes) {
        unsigned char* const memory = static_cast<unsigned char*>(okrelt::zeroed_scratch(&scratch, bytes));
        ASSERT_NE(memory, nullptr);
        EXPECT_GE(scratch.bytes, bytes);
        if (before != nullptr && bytes <= okrelt::HUGE_PAGE_BYTES) {
            EXPECT_EQ(memory, before) << bytes;
        }
        size_t nonzero = 0;
        for (size_t i = 0; i < bytes; ++i) nonzero += memory[i] != 0;
        EXPECT_EQ(nonzero, 0u) << bytes;
        std::fill(memory, memory + bytes, 0xa5);
        before = memory;
    }
}

TEST(CommandLineGrammar, OptionsValuesAndOperands) {
    std::vector<std::string> words = {"-qoDIR", "a.wu", "--out=x", "--constant", "-1", "+1", "--sky", "--", "-b.wu"};
    std::vector<char*> argv = {const_cast<char*>("prog")};
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::vector<okrelt::OptionSpec> known = {
        {1, 'q', "quiet", 0}, {2, 'o', "output", 1}, {3, 0, "constant", 2}, {4, 0, "sky-order", 0}};
    okrelt::ParsedCommandLine line;
    ASSERT_EQ(okrelt::parse_command_line("prog", static_cast<int>(argv.size() - 1), argv.data(), known, &line), 0);
    ASSERT_EQ(line.options.size(), 5u);
    EXPECT_EQ(line.options[0].id, 1);
    EXPECT_EQ(line.options[1].id, 2);
    EXPECT_STREQ(line.options[1].value[0], "DIR");
    EXPECT_STREQ(line.options[2].value[0], "x");
    EXPECT_EQ(line.options[3].id, 3);
    EXPECT_STREQ(line.options[3].value[0], "-1");
    EXPECT_STREQ(line.options[3].value[1], "+1");
    EXPECT_EQ(line.options[4].id, 4);
    EXPECT_EQ(line.operands, (std::vector<std::string>{"a.wu", "-b.wu"}));
}

TEST(CommandLineGrammar, RefusalsAreUsageErrors) {
    for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
             {"--frobnicate"}, {"-x"}, {"-o"}, {"--quiet=yes"}, {"--constant", "1"}, {"--s"}}) {
        EXPECT_EQ(parse(words).status, okrelt::EXIT_USAGE) << words[0];
    }
    EXPECT_EQ(parse({"--"}).line.operands.size(), 0u);
    EXPECT_EQ(parse({"-", "--", "--quiet"}).line.operands, (std::vector<std::string>{"-", "--quiet"}));
}

// Worked out with astropy (FK5 J2000 to galactic; Time.iso) while writing
// this test.
TEST(Sky, TimePlaceAndVelocity) {
    EXPECT_EQ(okrelt::utc_text_of_julian_date(2457976.6100402), "2017-08-11 02:38:27 UTC");
    EXPECT_EQ(okrelt::utc_text_of_julian_date(2451545.0), "2000-01-01 12:00:00 UTC");
    const struct {
        double ra_hours, dec_degrees, l, b;
    } places[] = {{17.7611, -29.0078, 359.9441, -0.0459}, {0.0, 0.0, 96.3373, -60.1886},
                  {5.5753, 22.0145, 184.5557, -5.7872}, {19.93, 18.02, 56.3375, -5.3654}};
    for (const auto& place : places) {
        const okrelt::GalacticPosition galactic = okrelt::galactic_of_equatorial(place.ra_hours, place.dec_degrees);
        EXPECT_NEAR(galactic.longitude_degrees, place.l, 0.005) << place.ra_hours;
        EXPECT_NEAR(galactic.latitude_degrees, place.b, 0.005) << place.ra_hours;
    }
    EXPECT_NEAR(okrelt::hydrogen_radio_velocity_km_s(1418920288.09), 313.5237, 1e-4);
    EXPECT_TRUE(okrelt::near_hydrogen_line(1419531944.0));
    EXPECT_FALSE(okrelt::near_hydrogen_line(1400000000.0));
}

TEST(Sky, JulianDatesAsRfc3339Utc) {
    EXPECT_EQ(okrelt::rfc3339_of_julian_date(2457976.6100402), "2017-08-11T02:38:27.473Z");
    EXPECT_EQ(okrelt::rfc3339_of_julian_date(2440587.5), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(okrelt::rfc3339_of_julian_date(2451544.5), "2000-01-01T00:00:00.000Z");
}

}  // namespace
