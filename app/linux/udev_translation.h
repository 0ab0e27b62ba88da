// Hot-plug on Linux in the window's terms: udev events become the WM_DEVICECHANGE event codes
// that Windows sends, so the main window handles them as it does there. No udev and no Qt in
// here: the Qt window's monitor and the USB rig's watcher both feed it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvb::hotplug {

// The subsystems the monitor listens to: "usb" for the USB devices themselves, and
// "scsi_generic" for the /dev/sg nodes, which usb-storage makes a while after the USB events
// (its settle delay), and which are what the refresh looks for.
constexpr const char* kUsbSubsystem = "usb";
constexpr const char* kScsiGenericSubsystem = "scsi_generic";
constexpr const char* kUsbDeviceType = "usb_device";

// One udev event, as much of it as the translation reads.
struct UdevEvent {
  std::string action;     // "add", "remove", "change", "bind", "unbind", "move", ...
  std::string subsystem;  // "usb", "scsi_generic", ...
  std::string devtype;    // "usb_device", "usb_interface", or empty
};

// The codes Windows would send for the event, in order: the removal of a USB device gives
// DBT_DEVICEREMOVECOMPLETE (0x8004) and then DBT_DEVNODES_CHANGED (7); every other change of a
// USB device or interface, or of a /dev/sg node, gives 7 alone (an arrival too: on Windows its
// own arrival event is ignored and the 7 that comes with it refreshes). Events of other
// subsystems, or without an action, give nothing.
std::vector<uintptr_t> DeviceChangeCodes(const UdevEvent& event);

}  // namespace qvb::hotplug
