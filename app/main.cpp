// okrelt: converts SETI@home work units into playable sound files and prints
// their RFI factor; without arguments, the one in the current directory.
#include "app/driver.h"

int main(int argc, char** argv) { return okrelt::run_command_line(argc, argv); }
