// Console driver: the program's single run from banner to exit status.
#pragma once

#include "workunit/reader.h"

namespace okrelt {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int32_t MIN_CONVERT_SAMPLES = 131072;
constexpr const char* SETI_WEB_SITE = "https://setiathome.berkeley.edu/";
constexpr const char* OKRELT_WEB_SITE = "https://okrelt.quorvane.net/";

// Prints the two web-site lines.
void print_web_sites();

// Prints the start-up banner, web-site lines included.
void print_banner();

// Announces and runs the conversion of the decoded streams, then the closing
// prompt and the wait for a key. Returns the exit status.
int run_conversion_stage(SampleStreams* streams, const WorkUnitInfo& info);

// The whole run in the current directory; returns the exit status.
int run_program();

}  // namespace okrelt
