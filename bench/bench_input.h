// The benchmark programs' start: the work unit of the current folder, read
// and decoded the way okrelt does it.
#pragma once

#include <cstdio>

#include "audio/converter.h"
#include "audio/wav_header.h"
#include "common/stdio_file.h"
#include "workunit/reader.h"

namespace okrelt_bench {

// Reads "work_unit.sah" (either format) into streams and info and prints the
// decoded count; 0 on success.
[[nodiscard]] inline int read_current_work_unit(okrelt::SampleStreams* streams, okrelt::WorkUnitInfo* info) {
    if (okrelt::load_work_unit(okrelt::WORK_UNIT_FILE_NAME, streams, info) != 0) return 1;
    std::printf("Samples decoded: %d\n", streams->count);
    return 0;
}

// The transform's input value of a stored sample.
inline double sample_value(const okrelt::SampleStreams& streams, int8_t stored) {
    return okrelt::stored_value(stored, streams.levels);
}

// The FFTW pipelines' start: the unit read (whole blocks only) and
// "work_unit.wav" created with its header. 0 on success.
[[nodiscard]] inline int start_conversion(okrelt::SampleStreams* streams, okrelt::WorkUnitInfo* info,
                                          okrelt::FileHandle* out) {
    if (read_current_work_unit(streams, info) != 0) return 1;
    if (streams->count < okrelt::BLOCK_SAMPLES || streams->count % okrelt::BLOCK_SAMPLES != 0) return 1;
    out->reset(std::fopen(okrelt::SOUND_FILE_NAME, "wb"));
    if (!*out) return 1;
    return okrelt::write_wav_header(out->get(), 2 * uint64_t{static_cast<uint32_t>(streams->count)}, info->sound_rate);
}

// Block b's samples as complex values ([0] real, [1] imaginary), such as
// FFTW's fftw_complex.
template <class Complex>
void fill_block(const okrelt::SampleStreams& streams, int32_t b, Complex* block) {
    const size_t first = static_cast<size_t>(b) * okrelt::BLOCK_SAMPLES;
    for (size_t j = 0; j < static_cast<size_t>(okrelt::BLOCK_SAMPLES); ++j) {
        block[j][0] = sample_value(streams, streams.in_phase[first + j]);
        block[j][1] = sample_value(streams, streams.quadrature[first + j]);
    }
}

}  // namespace okrelt_bench
