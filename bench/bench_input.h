// The benchmark programs' start: the work unit of the current folder, read
// and decoded the way okrelt does it.
#pragma once

#include <cstdio>

#include "common/stdio_file.h"
#include "workunit/reader.h"

namespace okrelt_bench {

// Reads "work_unit.sah" into streams and prints the decoded count; 0 on success.
[[nodiscard]] inline int read_current_work_unit(okrelt::SampleStreams* streams) {
    okrelt::FileHandle input(std::fopen(okrelt::WORK_UNIT_FILE_NAME, "r"));
    if (!input) {
        okrelt::report_system_error("Error opening work_unit.sah");
        return 1;
    }
    if (okrelt::read_work_unit(input.get(), streams) != 0) return 1;
    std::printf("Samples decoded: %d\n", streams->count);
    return 0;
}

}  // namespace okrelt_bench
