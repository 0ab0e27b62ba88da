#include "app/toolkit/qt/device_events.h"

#include "app/toolkit/toolkit.h"

namespace qvb::tk::qt {

std::vector<uintptr_t> DeviceChangeCodes(const UdevEvent& event) {
  if (event.action.empty()) return {};
  if (event.subsystem == kUsbSubsystem) {
    if (event.action == "remove" && event.devtype == kUsbDeviceType)
      return {kDbtDeviceRemoveComplete, kDbtDevNodesChanged};
    return {kDbtDevNodesChanged};
  }
  if (event.subsystem == kScsiGenericSubsystem) return {kDbtDevNodesChanged};
  return {};
}

}  // namespace qvb::tk::qt
