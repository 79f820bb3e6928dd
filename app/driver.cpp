#include "app/driver.h"

#include <cstdint>
#include <cstdio>

#include "audio/converter.h"
#include "workunit/reader.h"

namespace okrelt {

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int32_t MIN_CONVERT_SAMPLES = 2 * BLOCK_SAMPLES;   // fewer are not worth a sound file
constexpr const char* SETI_WEB_SITE = "https://setiathome.berkeley.edu/";
constexpr const char* OKRELT_WEB_SITE = "https://okrelt.quorvane.net/";

static_assert(DEFAULT_SOUND_RATE == OUTPUT_RATE, "a classic unit plays at the sound file's usual rate");

// Prints the two web-site lines, for the banner and the closing prompt.
void print_web_sites() {
    std::printf("SETI@home website: %s\n", SETI_WEB_SITE);
    std::printf("OKRELT website:    %s\n", OKRELT_WEB_SITE);
}

// Prints the start-up banner, web-site lines included.
void print_banner() {
    std::printf("OKRELT Version 0.5.7W\nby Quorvane\n");
    std::printf("\nUse it at your own risk. \n\n");
    std::printf("The SETI@home client can very well analyze the workunit data,\n");
    std::printf("so don't email SETI@home with anything you think you've found.\n");
    std::printf("If what you think you've found really is something, then the\n");
    std::printf("SETI@home client will find it and report it back.\n");
    std::printf("\n");
    print_web_sites();
    std::printf("--------------------------------------------------------------\n");
}

// Announces and runs the conversion of the decoded streams, then the closing
// prompt and the wait for a key. Returns the exit status.
int run_conversion_stage(SampleStreams* streams, const WorkUnitInfo& info) {
    std::printf("Converting...\n");
    SoundFormat format;
    format.rate = info.sound_rate;
    format.levels = streams->levels;
    if (convert_to_sound_file(streams->in_phase.get(), streams->quadrature.get(), streams->count, format) != 0) {
        std::printf("Conversion failed.\n");
        return EXIT_FAILED;
    }
    streams->in_phase.reset();
    streams->quadrature.reset();
    std::printf("Press Enter (the biggest key ;-) to quit.\n\n");
    print_web_sites();
    std::fflush(stdout);
    std::getchar();
    return EXIT_OK;
}

}  // namespace

int run_program() {
    print_banner();
    SampleStreams streams;
    WorkUnitInfo info;
    if (load_work_unit(WORK_UNIT_FILE_NAME, &streams, &info) != 0) return EXIT_FAILED;
    std::printf("Samples decoded: %d\n", streams.count);
    if (streams.count < MIN_CONVERT_SAMPLES) {
        std::printf("Quite few samples decoded. I wont bother converting those.\n");
        return EXIT_FAILED;
    }
    return run_conversion_stage(&streams, info);
}

}  // namespace okrelt
