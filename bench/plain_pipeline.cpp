// okrelt with the plain transcription of the transform: the same reading and
// output, every block converted step by step by the reference code.
#include <cstdio>

#include "audio/converter.h"
#include "common/stdio_file.h"
#include "tests/support/reference_fft.h"
#include "workunit/reader.h"

int main() {
    using namespace okrelt;
    FileHandle input(std::fopen(WORK_UNIT_FILE_NAME, "r"));
    if (!input) {
        report_system_error("Error opening work_unit.sah");
        return 1;
    }
    SampleStreams streams;
    if (read_work_unit(input.get(), &streams) != 0) return 1;
    input.reset();
    std::printf("Samples decoded: %d\n", streams.count);
    return convert_to_wav_with(okrelt_test::reference_convert_block, streams.in_phase.get(),
                               streams.quadrature.get(), streams.count);
}
