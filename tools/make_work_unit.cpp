// okrelt-make-wu: writes a work unit in the format okrelt reads.
//
//   okrelt-make-wu [-o FILE] [--samples N] [--seed S] [--crlf] [--constant I Q]
//
// By default it writes the 1048576-sample example (receiver noise with a faint
// drifting tone) to "work_unit.sah". --constant fills every sample with I + iQ
// (each +1 or -1) instead.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/stdio_file.h"
#include "workunit/writer.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: okrelt-make-wu [-o FILE] [--samples N] [--seed S] [--crlf] [--constant I Q]\n");
}

bool parse_long(const char* text, long* value) {
    char* end = nullptr;
    *value = std::strtol(text, &end, 0);
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = "work_unit.sah";
    long samples = okrelt::EXAMPLE_SAMPLES;
    long seed = static_cast<long>(okrelt::EXAMPLE_SEED);
    bool constant = false;
    long constant_i = 0;
    long constant_q = 0;
    okrelt::WriterOptions options;
    for (int a = 1; a < argc; ++a) {
        const bool has_value = a + 1 < argc;
        if (std::strcmp(argv[a], "-o") == 0 && has_value) {
            path = argv[++a];
        } else if (std::strcmp(argv[a], "--samples") == 0 && has_value && parse_long(argv[a + 1], &samples) &&
                   samples >= 0 && samples <= INT32_MAX) {
            ++a;
        } else if (std::strcmp(argv[a], "--seed") == 0 && has_value && parse_long(argv[a + 1], &seed)) {
            ++a;
        } else if (std::strcmp(argv[a], "--crlf") == 0) {
            options.line_end = "\r\n";
        } else if (std::strcmp(argv[a], "--constant") == 0 && a + 2 < argc &&
                   parse_long(argv[a + 1], &constant_i) && parse_long(argv[a + 2], &constant_q)) {
            constant = true;
            a += 2;
        } else {
            usage();
            return 1;
        }
    }

    okrelt::SampleVectors vectors;
    if (constant) {
        vectors.in_phase.assign(static_cast<size_t>(samples), constant_i > 0 ? 1 : -1);
        vectors.quadrature.assign(static_cast<size_t>(samples), constant_q > 0 ? 1 : -1);
    } else {
        vectors = okrelt::make_example_samples(static_cast<int32_t>(samples), static_cast<uint64_t>(seed));
    }

    okrelt::FileHandle out(std::fopen(path, "wb"));
    if (!out) {
        okrelt::report_system_error(path);
        return 1;
    }
    if (okrelt::write_work_unit(out.get(), vectors, options) != 0 || std::fclose(out.release()) != 0) {
        okrelt::report_system_error(path);
        return 1;
    }
    return 0;
}
