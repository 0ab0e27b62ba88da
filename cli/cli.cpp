#include "cli/cli.h"

#include <memory>
#include <optional>
#include <string>

#include "cli/access_monitor.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console_services.h"
#include "cli/exit_codes.h"
#include "cli/outcomes.h"
#include "cli/platform.h"
#include "cli/power_cycle_wait.h"
#include "cli/record.h"
#include "cli/report.h"
#include "cli/run_log.h"
#include "device/privileges.h"
#include "device/scsi_host.h"
#include "firmware/power_cycle.h"
#include "firmware/version_policy.h"
#include "virtual_bridge/virtual_devices.h"

#ifndef QVB_VERSION
#define QVB_VERSION "0.0.0"
#endif

namespace qvb::cli {

namespace {

const char* CommandWord(Command command) {
  switch (command) {
    case Command::List:
      return "list";
    case Command::Status:
      return "status";
    case Command::Update:
      return "update";
    default:
      return nullptr;
  }
}

// Bad usage: the reason on standard error, and a document when one was asked for.
int RefuseUsage(Console& console, bool json, const char* command, const std::string& error,
                bool try_help) {
  console.err << "qvb886-fwupdate: " << Printable(error) << "\n";
  if (try_help) console.err << "Try 'qvb886-fwupdate --help'.\n";
  if (json) console.out << UsageErrorDocumentText(command, error);
  return ExitCodeOf(Verdict::UsageError);
}

int RunCommand(int argc, const char* const* argv, Console& console) {
  const ParseResult parsed = ParseArguments(argc, argv);
  if (!parsed.ok) return RefuseUsage(console, parsed.json, nullptr, parsed.error, true);
  const Options& options = parsed.options;
  if (options.command == Command::Help) {
    console.out << HelpText();
    return kExitOk;
  }
  if (options.command == Command::Version) {
    console.out << "qvb886-fwupdate " << QVB_VERSION << "\n" << CarriedFirmwareText();
    return kExitOk;
  }

  ConsoleServices services(console.err);
  Session session{console, options};
  const bool on_virtual = !options.virtual_scenario.empty();
  const std::string waiting_file =
      console.waiting_file ? console.waiting_file : WaitingRecordFile(on_virtual);
  PowerCycleWatch own_power_cycles =
      waiting_file.empty() ? PowerCycleWatch()
                           : PowerCycleWatch(std::make_unique<WaitingRecordStore>(waiting_file));
  session.power_cycles = console.power_cycles ? console.power_cycles : &own_power_cycles;
  std::unique_ptr<DeviceChangeSource> own_changes;
  session.device_changes = console.device_changes;
  if (!session.device_changes && options.command == Command::Update) {
    own_changes = OpenDeviceChangeSource(on_virtual);
    session.device_changes = own_changes.get();
  }
  std::ostream discard(nullptr);  // writes fail quietly
  if (options.json) session.report = options.command == Command::Update ? &console.err : &discard;
  std::optional<virt::VirtualDevices> virtual_devices;
  std::optional<AccessMonitor> monitor;
  if (!options.virtual_scenario.empty()) {
    virtual_devices.emplace(options.virtual_scenario);
    std::string error;
    if (!virtual_devices->Load(error))
      return RefuseUsage(console, options.json, CommandWord(options.command), "scenario " + error,
                         false);
  } else {
    session.privileged =
        console.has_device_privileges ? console.has_device_privileges() : HaveRawIoPrivilege();
    monitor.emplace(ActiveScsiHost());
    monitor->Install();
    session.access = &*monitor;
  }

  // After the monitor, so that the log sees every request as it goes to the device.
  std::optional<RunLog> log;
  if (!options.log_file.empty() || options.verbose) {
    std::unique_ptr<std::ostream> file;
    if (!options.log_file.empty()) {
      file = OpenLogFile(options.log_file);
      if (!file) {
        console.err << "qvb886-fwupdate: cannot write the log " << options.log_file << "\n";
        return ExitCodeOf(Verdict::UsageError);
      }
    }
    log.emplace(std::move(file), options.verbose ? &console.err : nullptr);
    log->Start(argc, argv);
    session.log = &*log;
  }

  switch (options.command) {
    case Command::Record:
      return RunRecord(session);
    case Command::List:
      return RunList(session);
    case Command::Status:
      return RunStatus(session);
    case Command::Update:
      return RunUpdate(session);
    default:
      break;
  }
  return kExitUsage;
}

}  // namespace

int Run(int argc, const char* const* argv, Console& console) {
  const int code = RunCommand(argc, argv, console);
  if (code == kExitOutputFailed) return code;  // said already
  // A script must not take a missing report or document for success.
  console.out.flush();
  if (!console.out.fail()) return code;
  console.err << "qvb886-fwupdate: standard output could not be written";
  if (code != kExitOk) console.err << " (the command itself ended with exit code " << code << ")";
  console.err << ".\n";
  return kExitOutputFailed;
}

}  // namespace qvb::cli
