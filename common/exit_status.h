// The programs' exit statuses, the same in every program.
#pragma once

namespace okrelt {

constexpr int EXIT_OK = 0;       // everything asked for was done
constexpr int EXIT_FAILED = 1;   // anything failed (a unit, a file, standard output)
constexpr int EXIT_USAGE = 2;    // a command line that can't be followed

}  // namespace okrelt
