// okrelt: converts the SETI@home work unit in the current directory into a
// playable sound file and prints its RFI factor. Arguments are ignored.
#include "app/driver.h"

int main() { return okrelt::run_program(); }
