#include "virtual_bridge/virtual_devices.h"

#include <cstdlib>

#include "device/system_services.h"

namespace qvb::virt {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

VirtualDeviceOptions OptionsFromEnvironment() {
  VirtualDeviceOptions options;
  options.scenario_file = Environment(kScenarioVariable);
  const std::string delay = Environment(kOpenDelayVariable);
  if (!delay.empty())
    options.open_delay_ms = static_cast<uint32_t>(std::strtoul(delay.c_str(), nullptr, 10));
  options.flash_out = Environment(kFlashOutVariable);
  return options;
}

VirtualDevices::VirtualDevices(VirtualDeviceOptions options)
    : flash_out_(std::move(options.flash_out)),
      scenario_(std::move(options.scenario_file)),
      seams_(HostSeams{&scenario_, &scenario_, nullptr, nullptr}) {
  scenario_.set_open_delay(options.open_delay_ms);
}

VirtualDevices::~VirtualDevices() {
  if (!flash_out_.empty() && !WriteFlashFile(scenario_.bridge(), 0, flash_out_))
    System().DebugOutput((std::string(kFlashOutVariable) + ": cannot write " + flash_out_ +
                          " (no device, or the file cannot be written)\n")
                             .c_str());
}

bool VirtualDevices::Load(std::string& error) {
  if (scenario_.file().empty()) {
    error = ": cannot be read";
    return false;
  }
  scenario_.Refresh();
  if (!scenario_.error().empty()) {
    error = scenario_.error();
    return false;
  }
  // The live scenario takes a missing file for "nothing attached"; asked for by name, it is a
  // mistake.
  if (!scenario_.loaded()) {
    error = scenario_.file() + ": cannot be read";
    return false;
  }
  return true;
}

}  // namespace qvb::virt
