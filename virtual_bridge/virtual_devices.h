// Virtual disks from a scenario, behind the SCSI and disk-interface seams for the object's
// lifetime: what every program's virtual entry (--virtual, the virtual Windows variant), the
// tests, the demo and the bench attach instead of the machine's disks.
#pragma once

#include <cstdint>
#include <string>

#include "device/seams.h"
#include "virtual_bridge/live_scenario.h"

namespace qvb::virt {

struct VirtualDeviceOptions {
  // Read again at every enumeration (see LiveScenario). Empty: no file is read; the devices are
  // whatever the owner puts on bridge().
  std::string scenario_file;
  // A pause before every device open.
  uint32_t open_delay_ms = 0;
  // Not empty: the first device's flash is written to this file when the object ends.
  std::string flash_out;
};

// The options of the virtual Windows variant: QVB_SCENARIO, QVB_OPEN_DELAY_MS, QVB_FLASH_OUT.
VirtualDeviceOptions OptionsFromEnvironment();

class VirtualDevices {
 public:
  explicit VirtualDevices(VirtualDeviceOptions options = {});
  explicit VirtualDevices(std::string scenario_file)
      : VirtualDevices(VirtualDeviceOptions{std::move(scenario_file), 0, {}}) {}
  ~VirtualDevices();
  VirtualDevices(const VirtualDevices&) = delete;
  VirtualDevices& operator=(const VirtualDevices&) = delete;

  // Reads the scenario file now, for a front end that must refuse a wrong one: false with
  // `error` set when the file cannot be read or is not a valid scenario.
  bool Load(std::string& error);

  LiveScenario& scenario() { return scenario_; }
  VirtualBridge& bridge() { return scenario_.bridge(); }

 private:
  std::string flash_out_;
  LiveScenario scenario_;
  ScopedSeams seams_;
};

}  // namespace qvb::virt
