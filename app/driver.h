// Console driver: okrelt's runs from banner to exit status.
#pragma once

namespace okrelt {

// The classic run in the current directory: banner, "work_unit.sah" read and
// converted into "work_unit.wav", RFI report, closing prompt and the wait for
// Enter. Returns the exit status: 0 after a successful conversion, 1 otherwise.
int run_program();

// The run the command line asks for: run_program() without arguments; help,
// the version, or the conversion of every work unit named (-q, -o FOLDER)
// otherwise. Returns the exit status: 0, 1 if anything failed, 2 for a
// command line that can't be followed.
int run_command_line(int argc, char** argv);

}  // namespace okrelt
