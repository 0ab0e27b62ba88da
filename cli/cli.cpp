#include "cli/cli.h"

#include <memory>
#include <optional>
#include <string>

#include "cli/access_monitor.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console_services.h"
#include "cli/exit_codes.h"
#include "cli/platform.h"
#include "cli/power_cycle_wait.h"
#include "device/scsi_host.h"
#include "firmware/power_cycle.h"
#include "firmware/version_policy.h"
#include "virtual_bridge/virtual_devices.h"

#ifndef QVB_VERSION
#define QVB_VERSION "0.0.0"
#endif

namespace qvb::cli {

int Run(int argc, const char* const* argv, Console& console) {
  const ParseResult parsed = ParseArguments(argc, argv);
  if (!parsed.ok) {
    console.err << "qvb886-fwupdate: " << parsed.error << "\n"
                << "Try 'qvb886-fwupdate --help'.\n";
    return kExitUsage;
  }
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
    if (!virtual_devices->Load(error)) {
      console.err << "qvb886-fwupdate: scenario " << error << "\n";
      return kExitUsage;
    }
  } else {
    session.privileged =
        console.has_device_privileges ? console.has_device_privileges() : HasDevicePrivileges();
    monitor.emplace(ActiveScsiHost());
    monitor->Install();
    session.access = &*monitor;
  }

  switch (options.command) {
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

}  // namespace qvb::cli
