#include "cli/virtual_devices.h"

#include <fstream>
#include <optional>

#include "device/disk_interfaces.h"
#include "device/scsi_host.h"
#include "virtual_bridge/live_scenario.h"

namespace qvb::cli {

struct VirtualDevices::State {
  std::optional<virt::LiveScenario> scenario;
  bool installed = false;
  ScsiHost* previous_host = nullptr;
  DiskInterfaces* previous_interfaces = nullptr;
};

VirtualDevices::VirtualDevices() : state_(std::make_unique<State>()) {}

VirtualDevices::~VirtualDevices() {
  if (!state_->installed) return;
  InstallDiskInterfaces(state_->previous_interfaces);
  InstallScsiHost(state_->previous_host);
}

bool VirtualDevices::Load(const std::string& file, std::string& error) {
  if (state_->installed) return false;
  // The live scenario takes a missing file for "nothing attached"; here it is a mistake.
  if (!std::ifstream(file, std::ios::binary)) {
    error = file + ": cannot be read";
    return false;
  }
  state_->scenario.emplace(file);
  state_->scenario->Refresh();
  if (!state_->scenario->error().empty()) {
    error = state_->scenario->error();
    return false;
  }
  state_->previous_host = InstallScsiHost(&*state_->scenario);
  state_->previous_interfaces = InstallDiskInterfaces(&*state_->scenario);
  state_->installed = true;
  return true;
}

}  // namespace qvb::cli
