// The command line's words: a command, its options, and the global options.
#pragma once

#include <string>

namespace qvb::cli {

enum class Command { None, List, Status, Update, Record, Help, Version };

struct Options {
  Command command = Command::None;
  std::string device;            // --device PATH; empty: chosen as the window chooses
  std::string virtual_scenario;  // --virtual SCENARIO; empty: the real disks
  bool json = false;
  bool yes = false;
  bool dry_run = false;     // update --dry-run: everything up to the first write
  std::string record_file;  // record FILE: the scenario file to write
  std::string log_file;     // --log FILE: every request and step appended there
  bool verbose = false;     // --verbose: the step lines on standard error
  // update: wait for the power cycle and confirm the new firmware. By default only on a terminal.
  bool wait = false;
  bool no_wait = false;
};

struct ParseResult {
  bool ok = false;
  Options options;
  std::string error;  // what was wrong, for the usage message
  bool json = false;  // "--json" was among the words, even when they did not parse
};

// Options may stand before or after the command; "--name=value" and "--name value" both work.
ParseResult ParseArguments(int argc, const char* const* argv);

// The --help text: usage, commands, options and the exit codes.
const char* HelpText();

}  // namespace qvb::cli
