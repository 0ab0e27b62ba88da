// Where the command line reads and writes, and what it knows about the terminal.
#pragma once

#include <istream>
#include <ostream>

namespace qvb {
class PowerCycleWatch;
}  // namespace qvb

namespace qvb::cli {

class DeviceChangeSource;

struct Console {
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool in_terminal = false;
  bool out_terminal = false;
  bool err_terminal = false;
  // Whether this process may send vendor commands to real disks; the platform's check when
  // null. Not asked with --virtual.
  bool (*has_device_privileges)() = nullptr;
  // The bridges this process has updated, kept from one command to the next; with null, a run
  // keeps its own (one command per process, as main() runs it).
  PowerCycleWatch* power_cycles = nullptr;
  // The record file of the bridges that wait for their power cycle; null: the host's
  // (WaitingRecordFile). An empty text: none.
  const char* waiting_file = nullptr;
  // The hot-plug events and the clock of the wait for the power cycle; null: the host's.
  DeviceChangeSource* device_changes = nullptr;
};

}  // namespace qvb::cli
