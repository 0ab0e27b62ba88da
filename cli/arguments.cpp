#include "cli/arguments.h"

#include <CLI/CLI.hpp>
#include <vector>

namespace qvb::cli {
namespace {

Command CommandFromWord(const std::string& word) {
  if (word == "list") return Command::List;
  if (word == "status") return Command::Status;
  if (word == "update") return Command::Update;
  if (word == "help") return Command::Help;
  return Command::None;
}

ParseResult Fail(std::string error) {
  ParseResult result;
  result.error = std::move(error);
  return result;
}

}  // namespace

ParseResult ParseArguments(int argc, const char* const* argv) {
  ParseResult result;
  Options& options = result.options;
  bool help = false, version = false;
  std::vector<std::string> words;

  CLI::App app("", "qvb886-fwupdate");
  // HelpText() is the help: the manual page is made from it.
  app.set_help_flag();
  // A path is never an option, on Windows as anywhere.
  app.allow_windows_style_options(false);
  CLI::Option* device = app.add_option("--device", options.device)->type_name("PATH");
  CLI::Option* scenario =
      app.add_option("--virtual", options.virtual_scenario)->type_name("SCENARIO");
  // A flag with a value ("--yes=no") is refused rather than read as false.
  app.add_flag("--json", options.json)->disable_flag_override();
  app.add_flag("-y,--yes", options.yes)->disable_flag_override();
  app.add_flag("--wait", options.wait)->disable_flag_override();
  app.add_flag("--no-wait", options.no_wait)->disable_flag_override();
  app.add_flag("-h,--help", help)->disable_flag_override();
  app.add_flag("--version", version)->disable_flag_override();
  // The command is a plain word, so that options may stand before or after it.
  app.add_option("command", words);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return Fail(error.what());
  }

  if (device->count() > 0 && options.device.empty()) return Fail("--device needs one device path");
  if (scenario->count() > 0 && options.virtual_scenario.empty())
    return Fail("--virtual needs one scenario file");
  for (const auto& word : words) {
    const Command command = CommandFromWord(word);
    if (command == Command::None) return Fail("unknown command " + word);
    if (options.command != Command::None) return Fail("more than one command");
    options.command = command;
  }

  if (help || options.command == Command::Help) {
    options.command = Command::Help;
  } else if (version) {
    options.command = Command::Version;
  } else if (options.command == Command::None) {
    return Fail("no command given");
  } else if (options.command == Command::List && device->count() > 0) {
    return Fail("list takes no --device: it shows every disk");
  } else if (options.command != Command::Update && options.yes) {
    return Fail("--yes belongs to update");
  } else if (options.command != Command::Update && (options.wait || options.no_wait)) {
    return Fail("--wait and --no-wait belong to update");
  } else if (options.wait && options.no_wait) {
    return Fail("--wait and --no-wait exclude each other");
  }
  result.ok = true;
  return result;
}

const char* HelpText() {
  return "Usage: qvb886-fwupdate [--virtual SCENARIO] [--json] COMMAND [OPTIONS]\n"
         "\n"
         "Updates the firmware of a QVB886 USB-to-PCIe storage bridge to 133.1.0.6.\n"
         "\n"
         "Commands:\n"
         "  list                 every disk behind a supported bridge: device path, bus,\n"
         "                       INQUIRY vendor and product, bridge model, and for a QVB886\n"
         "                       its firmware version and status\n"
         "  status [--device PATH]\n"
         "                       the version and status of one device, as the window shows them\n"
         "  update [--device PATH] [--yes] [--wait|--no-wait]\n"
         "                       write and verify the firmware (two attempts at most); on a\n"
         "                       terminal it asks first unless --yes; without a terminal\n"
         "                       --yes is required. Then, on a terminal, it waits (5 minutes\n"
         "                       at most) for the device to be powered off and on and reads\n"
         "                       the version it then runs\n"
         "  help                 this text\n"
         "\n"
         "Options:\n"
         "  --device PATH        the device to use (as list shows it); needed when several\n"
         "                       disks are attached\n"
         "  --yes, -y            update without asking\n"
         "  --wait               wait for the power cycle even without a terminal\n"
         "  --no-wait            end after the write, without waiting for the power cycle\n"
         "  --json               print the result as one JSON document on standard output\n"
         "  --virtual SCENARIO   use the virtual bridge described by a scenario file instead\n"
         "                       of the attached disks (needs no administrator rights)\n"
         "  --help, -h           this text\n"
         "  --version            the program's version\n"
         "\n"
         "Only a QVB886 running 133.1.0.0 to 133.1.0.5 is updated; there is no way to force\n"
         "an update of anything else. Ctrl-C does not interrupt an update once it has begun.\n"
         "The carried firmware image is checked against the SHA-256 recorded when the program\n"
         "was built before anything is written. While the firmware is written the computer is\n"
         "kept from sleeping (on Linux, a logind inhibitor lock); where that cannot be had the\n"
         "update goes on and says so on standard error.\n"
         "\n"
         "Exit codes:\n"
         "  0  done: update wrote the firmware; status found the update required\n"
         "  1  the update failed, or was not confirmed\n"
         "  2  bad usage, or an unreadable scenario file\n"
         "  3  no device found\n"
         "  4  the device is not updatable (not a QVB886, version unreadable or not supported)\n"
         "  5  several disks are attached and no --device chose one\n"
         "  6  no permission to send the commands (root or administrator rights needed)\n"
         "  7  nothing to do: the firmware is already up to date (status, update)\n"
         "  8  the device was updated and has not yet been powered off and on: it still\n"
         "     reports its old version and is not written again (status, update; update\n"
         "     also when the wait for the power cycle ended without one)\n"
         "  9  this is a test build (--version says so): it carries generated test images\n"
         "     and writes only to test devices, never to a real bridge\n"
         " 11  after its power cycle the device still runs its old version: the write did\n"
         "     not take (update)\n"
         "\n"
         "An updated device is recorded as waiting for its power cycle until an enumeration\n"
         "runs without it, it reports 133.1.0.6 or another identity, the machine starts\n"
         "again, or a day has passed: as root in /var/lib/qvb886-fwupdate, otherwise (and\n"
         "always for --virtual) in $XDG_STATE_HOME/qvb886-fwupdate (~/.local/state); on\n"
         "Windows in the program data folder.\n";
}

}  // namespace qvb::cli
