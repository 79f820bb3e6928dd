// okrelt's batch: the work units named on the command line, each into its
// files in one folder, planned before anything is written and converted side
// by side, with each unit's line or report printed in the order named.
#pragma once

#include <string>
#include <vector>

#include "audio/block_transform.h"

namespace okrelt {

// What the command line asks of a batch.
struct BatchOptions {
    bool quiet = false;
    bool sound = true;
    bool sigmf = false;
    bool iq_wav = false;
    bool hits = false;          // the SigMF metadata marks the search's hits
    SoundOrder order = SoundOrder::BIN;
    std::string folder = ".";
    std::vector<std::string> units;
};

// Converts every unit named, carrying on past failures. Returns 0 if all
// converted, 1 otherwise, or if the plan refused the batch before anything
// was written.
int run_batch(const BatchOptions& options);

// The classic run's conversion: "work_unit.sah" into "work_unit.wav" in the
// current folder, with the full report. 0, or 1 after saying why.
int convert_classic_unit();

}  // namespace okrelt
