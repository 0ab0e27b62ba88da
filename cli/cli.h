// The command-line updater as a function: what main() runs, and what the tests run in process.
#pragma once

#include "cli/console.h"

namespace qvb::cli {

// Parses the arguments, sets up the devices (the real ones, or the virtual bridge of
// --virtual) and runs the command. Returns the exit code (cli/exit_codes.h).
int Run(int argc, const char* const* argv, Console& console);

}  // namespace qvb::cli
