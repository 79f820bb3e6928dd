// Console driver: the program's single run from banner to exit status.
#pragma once

namespace okrelt {

// The whole run in the current directory: banner, "work_unit.sah" read and
// converted into "work_unit.wav", RFI report, closing prompt and the wait for
// Enter. Returns the exit status: 0 after a successful conversion, 1 otherwise.
int run_program();

}  // namespace okrelt
