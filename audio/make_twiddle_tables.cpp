// Run by the build: prints the initializer of the transform's TwiddleTables,
// every value as an exact hexadecimal floating literal, so that the program
// carries the tables in read-only data instead of computing them at start.
#include <cstdio>
#include <memory>

#include "audio/fft_internal.h"

namespace {

void print_table(const char* name, const double* values) {
    std::printf("    // %s\n    {", name);
    for (long i = 0; i < okrelt::TWIDDLE_ENTRIES; ++i) {
        std::printf("%s%a", i == 0 ? "\n        " : i % 4 == 0 ? ",\n        " : ", ", values[i]);
    }
    std::printf("},\n");
}

}  // namespace

int main() {
    const auto tables = std::make_unique<okrelt::TwiddleTables>();
    okrelt::compute_twiddle_tables(tables.get());
    std::printf("// Made by okrelt-make-twiddle-tables when the program was built.\n{\n");
    print_table("inverse_re", tables->inverse_re);
    print_table("inverse_im", tables->inverse_im);
    print_table("forward_re", tables->forward_re);
    print_table("forward_im", tables->forward_im);
    std::printf("}\n");
    return std::ferror(stdout) ? 1 : 0;
}
