// The seam below the enumeration: the system's list of disk interfaces, walked by index, and
// the text that tells a disk's bus. One implementation per host (device/win32: SetupDi over
// the disk interface class; device/linux: sysfs) and the virtual bridge for tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qvb {

// One interface of the list. Both texts are NUL-terminated and stay valid until the next
// Read of the same walk or the walk's end.
struct DiskInterface {
  const char* device_path =
      nullptr;                     // the path the disk is opened by, exactly as the host gives it
  const char* bus_text = nullptr;  // where the bus markers are searched ("usbsto", "sbp2",
                                   // "scsi"); on Windows the device path itself
};

// One walk over the list, holding what the host needs for it (on Windows the device-information
// set and the detail block). Destroying it releases them.
class DiskInterfaceWalk {
 public:
  virtual ~DiskInterfaceWalk() = default;
  // Reads interface `index`; the enumeration asks for 0, 1, 2, ... in turn. False when the host
  // cannot give it, for any reason (the end of the list included); the walk then ends.
  virtual bool Read(uint32_t index, DiskInterface& entry) = 0;
};

class DiskInterfaces {
 public:
  virtual ~DiskInterfaces() = default;
  // Starts a walk; null when the list cannot be obtained.
  virtual std::unique_ptr<DiskInterfaceWalk> Walk() = 0;
  // The bus text of a device path that a walk returned (in any letter case): on Windows the path
  // itself; on Linux the marker of the driver behind the node, "" when it is not known. Valid as
  // long as `device_path` is.
  virtual const char* BusText(const char* device_path) = 0;
  // The USB serial number of the device behind a path that a walk returned (in any letter case),
  // "" when the host tells none. On Windows the serial is part of the path already.
  virtual std::string SerialNumber(const char* /*device_path*/) { return ""; }
};

// The list in use (see device/seams.h).
DiskInterfaces& ActiveDiskInterfaces();

}  // namespace qvb
