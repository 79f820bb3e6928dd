// The benchmark programs' start: the work unit of the current folder, read
// and decoded the way okrelt does it.
#pragma once

#include <cstdio>

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
    return streams.levels == nullptr ? stored : streams.levels[stored & okrelt::LEVEL_INDEX_MASK];
}

}  // namespace okrelt_bench
