// okrelt with the plain transcription of the transform: the same reading and
// output, every block converted step by step by the reference code.
#include <cstdio>

#include "audio/converter.h"
#include "bench/bench_input.h"
#include "tests/support/reference_fft.h"
#include "workunit/reader.h"

int main() {
    using namespace okrelt;
    SampleStreams streams;
    WorkUnitInfo info;
    if (okrelt_bench::read_current_work_unit(&streams, &info) != 0) return 1;
    SoundFormat format;
    format.rate = info.sound_rate;
    format.levels = streams.levels;
    SoundResult result;
    return convert_to_wav_with(okrelt_test::reference_convert_block, streams.in_phase,
                               streams.quadrature, streams.count, format, &result);
}
