// The three commands. Each returns its exit code and writes its result, as text or as one JSON
// document, to the console.
#pragma once

#include <ostream>

#include "cli/arguments.h"
#include "cli/console.h"

namespace qvb {
class PowerCycleWatch;
}  // namespace qvb

namespace qvb::cli {

class AccessMonitor;
class RunLog;
class DeviceChangeSource;

struct Session {
  Console& console;
  const Options& options;
  const AccessMonitor* access = nullptr;         // the real devices' refusals; null with --virtual
  bool privileged = true;                        // false: the privilege note is due
  PowerCycleWatch* power_cycles = nullptr;       // bridges updated and not yet powered off and on
  RunLog* log = nullptr;                         // --log, --verbose
  DeviceChangeSource* device_changes = nullptr;  // update: the wait for the power cycle

  // The report for people. With --json the document alone goes to standard output; list and
  // status then report nothing else, and update keeps its warning, prompt and progress on
  // standard error.
  std::ostream* report = nullptr;

  std::ostream& human() const { return report ? *report : console.out; }
  bool human_terminal() const { return options.json ? console.err_terminal : console.out_terminal; }
};

int RunList(Session& session);
int RunStatus(Session& session);
int RunUpdate(Session& session);

}  // namespace qvb::cli
