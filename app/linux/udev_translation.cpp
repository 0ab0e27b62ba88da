#include "app/linux/udev_translation.h"

#include "app/toolkit/toolkit.h"

namespace qvb::hotplug {

std::vector<uintptr_t> DeviceChangeCodes(const UdevEvent& event) {
  if (event.action.empty()) return {};
  if (event.subsystem == kUsbSubsystem) {
    if (event.action == "remove" && event.devtype == kUsbDeviceType)
      return {tk::kDbtDeviceRemoveComplete, tk::kDbtDevNodesChanged};
    return {tk::kDbtDevNodesChanged};
  }
  if (event.subsystem == kScsiGenericSubsystem) return {tk::kDbtDevNodesChanged};
  return {};
}

}  // namespace qvb::hotplug
