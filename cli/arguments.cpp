#include "cli/arguments.h"

#include <CLI/CLI.hpp>
#include <vector>

namespace qvb::cli {
namespace {

Command CommandFromWord(const std::string& word) {
  if (word == "list") return Command::List;
  if (word == "status") return Command::Status;
  if (word == "update") return Command::Update;
  if (word == "record") return Command::Record;
  if (word == "help") return Command::Help;
  return Command::None;
}

ParseResult Fail(std::string error, bool json) {
  ParseResult result;
  result.error = std::move(error);
  result.json = json;
  return result;
}

}  // namespace

ParseResult ParseArguments(int argc, const char* const* argv) {
  ParseResult result;
  Options& options = result.options;
  bool help = false, version = false;
  std::vector<std::string> words;

  // A usage error is answered with a document too when one was asked for.
  for (int i = 1; i < argc; ++i)
    if (argv[i] && std::string(argv[i]) == "--json") result.json = true;
  // The parser would take the next word as the value of "--device=" with nothing after the sign,
  // and of "--device" followed by an option ("No disk --yes was found").
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i] ? argv[i] : "";
    const bool option_next = i + 1 < argc && argv[i + 1] && argv[i + 1][0] == '-';
    if (word == "--device=" || (word == "--device" && option_next))
      return Fail("--device needs one device path", result.json);
    if (word == "--virtual=" || (word == "--virtual" && option_next))
      return Fail("--virtual needs one scenario file", result.json);
    if (word == "--log=" || (word == "--log" && option_next))
      return Fail("--log needs one file", result.json);
  }

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
  app.add_flag("-y,--yes,--assume-yes", options.yes)->disable_flag_override();
  app.add_flag("--dry-run", options.dry_run)->disable_flag_override();
  app.add_flag("-v,--verbose", options.verbose)->disable_flag_override();
  CLI::Option* log = app.add_option("--log", options.log_file)->type_name("FILE");
  app.add_flag("--wait", options.wait)->disable_flag_override();
  app.add_flag("--no-wait", options.no_wait)->disable_flag_override();
  app.add_flag("-h,--help", help)->disable_flag_override();
  app.add_flag("--version", version)->disable_flag_override();
  // The command is a plain word, so that options may stand before or after it.
  app.add_option("command", words);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return Fail(error.what(), result.json);
  }

  if (device->count() > 0 && options.device.empty())
    return Fail("--device needs one device path", result.json);
  if (scenario->count() > 0 && options.virtual_scenario.empty())
    return Fail("--virtual needs one scenario file", result.json);
  if (log->count() > 0 && options.log_file.empty())
    return Fail("--log needs one file", result.json);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (options.command == Command::Record && options.record_file.empty()) {
      options.record_file = word;
      continue;
    }
    const Command command = CommandFromWord(word);
    if (command == Command::None) return Fail("unknown command " + word, result.json);
    if (options.command != Command::None) return Fail("more than one command", result.json);
    options.command = command;
  }

  if (help || options.command == Command::Help) {
    options.command = Command::Help;
  } else if (version) {
    options.command = Command::Version;
  } else if (options.command == Command::None) {
    return Fail("no command given", result.json);
  } else if (options.command == Command::List && device->count() > 0) {
    return Fail("list takes no --device: it shows every disk", result.json);
  } else if (options.command != Command::Update && options.yes) {
    return Fail("--yes belongs to update", result.json);
  } else if (options.command != Command::Update && options.dry_run) {
    return Fail("--dry-run belongs to update", result.json);
  } else if (options.command == Command::Record && options.record_file.empty()) {
    return Fail("record needs the file to write", result.json);
  } else if (options.command != Command::Update && (options.wait || options.no_wait)) {
    return Fail("--wait and --no-wait belong to update", result.json);
  } else if (options.wait && options.no_wait) {
    return Fail("--wait and --no-wait exclude each other", result.json);
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
         "  update --dry-run [--device PATH]\n"
         "                       everything up to the first write (identification, version,\n"
         "                       image check, buffer descriptor), then what would be written\n"
         "                       and where; sends no WRITE BUFFER and no vendor write\n"
         "  record FILE [--device PATH]\n"
         "                       read what list and status read, writing nothing to the\n"
         "                       device, and save it as a scenario file: --virtual FILE then\n"
         "                       shows the same list and status (for a problem report)\n"
         "  help                 this text\n"
         "\n"
         "Options:\n"
         "  --device PATH        the device to use (as list shows it); needed when several\n"
         "                       disks are attached\n"
         "  --yes, -y            update without asking\n"
         "  --assume-yes         the same as --yes\n"
         "  --log FILE           append every request sent (command block, result, SCSI\n"
         "                       status, sense data, system error, time) and every step to\n"
         "                       FILE; never the firmware image's bytes\n"
         "  --verbose, -v        the steps on standard error as they happen\n"
         "  --wait               wait for the power cycle even without a terminal\n"
         "  --no-wait            end after the write, without waiting for the power cycle\n"
         "  --json               print the result as one JSON document on standard output,\n"
         "                       a usage error included; the documents follow the JSON\n"
         "                       Schema qvb886-fwupdate.schema.json shipped with the program\n"
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
         "Why a command failed (every exit code but 0, 7 and 8) is also said on standard\n"
         "error, once when standard output and error are the same terminal.\n"
         "\n"
         "Exit codes:\n"
         "  0  done: update wrote the firmware; status found the update required\n"
         "  1  the update failed, or was not confirmed (an answer other than y, or no\n"
         "     terminal to ask on and no --yes)\n"
         "  2  bad usage, or an unreadable scenario file\n"
         "  3  no device found; also when the only disk is held by another program (said as\n"
         "     \"Busy: PATH\"; close that program and run again)\n"
         "  4  the device is not updatable (not a QVB886, version unreadable or not supported)\n"
         "  5  several disks are attached and no --device chose one\n"
         "  6  no permission to send the commands (root or administrator rights needed)\n"
         "  7  nothing to do: the firmware is already up to date (status, update)\n"
         "  8  the device was updated and has not yet been powered off and on: it still\n"
         "     reports its old version and is not written again (status, update; update\n"
         "     also when the wait for the power cycle ended without one)\n"
         "  9  a test build (--version says so) refuses a device that is not a test device\n"
         "  10  standard output could not be written\n"
         "  11  after its power cycle the device still runs its old version: the write did\n"
         "     not take (update)\n"
         "\n"
         "An updated device is recorded as waiting for its power cycle until an enumeration\n"
         "runs without it, it reports 133.1.0.6 or another identity, the machine starts\n"
         "again, or a day has passed: as root in /var/lib/qvb886-fwupdate, otherwise (and\n"
         "always for --virtual) in $XDG_STATE_HOME/qvb886-fwupdate (~/.local/state); on\n"
         "Windows in the program data folder.\n";
}

}  // namespace qvb::cli
