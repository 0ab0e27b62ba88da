// The command line's words: a command, its options, and the global options.
#pragma once

#include <string>

namespace qvb::cli {

enum class Command { None, List, Status, Update, Help, Version };

struct Options {
  Command command = Command::None;
  std::string device;            // --device PATH; empty: chosen as the window chooses
  std::string virtual_scenario;  // --virtual SCENARIO; empty: the real disks
  bool json = false;
  bool yes = false;
  // update: wait for the power cycle and confirm the new firmware. By default only on a terminal.
  bool wait = false;
  bool no_wait = false;
};

struct ParseResult {
  bool ok = false;
  Options options;
  std::string error;  // what was wrong, for the usage message
};

// Options may stand before or after the command; "--name=value" and "--name value" both work.
ParseResult ParseArguments(int argc, const char* const* argv);

// The --help text: usage, commands, options and the exit codes.
const char* HelpText();

}  // namespace qvb::cli
