// Run by the build: prints the initializer of the transform's TwiddleTables,
// every value as an exact hexadecimal floating literal, so that the program
// carries the tables in read-only data instead of computing them at start.
#include <cstdio>
#include <vector>

#include "audio/fft_internal.h"
#include "audio/twiddle_recurrence.h"

namespace {

void print_table(const char* name, const std::vector<double>& values) {
    std::printf("    // %s\n    {", name);
    for (size_t i = 0; i < values.size(); ++i) {
        std::printf("%s%a", i == 0 ? "\n        " : i % 4 == 0 ? ",\n        " : ", ", values[i]);
    }
    std::printf("},\n");
}

}  // namespace

int main() {
    using okrelt::TWIDDLE_ENTRIES;
    using okrelt::TWIDDLE_STAGES;
    std::vector<double> inverse_re(TWIDDLE_ENTRIES, 0.0);
    std::vector<double> inverse_im(TWIDDLE_ENTRIES, 0.0);
    std::vector<double> forward_re(TWIDDLE_ENTRIES, 0.0);
    std::vector<double> forward_im(TWIDDLE_ENTRIES, 0.0);
    okrelt::fill_twiddles(false, false, TWIDDLE_STAGES, inverse_re.data(), inverse_im.data());
    okrelt::fill_twiddles(true, true, TWIDDLE_STAGES, forward_re.data(), forward_im.data());
    std::printf("// Made by okrelt-make-twiddle-tables when the program was built.\n{\n");
    print_table("inverse_re", inverse_re);
    print_table("inverse_im", inverse_im);
    print_table("forward_re", forward_re);
    print_table("forward_im", forward_im);
    std::printf("}\n");
    return std::ferror(stdout) ? 1 : 0;
}
