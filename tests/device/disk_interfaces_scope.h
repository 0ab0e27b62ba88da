// Installs a disk-interface list (a virtual bridge, a sysfs tree, a faked SetupDi) for the
// life of the object.
#pragma once

#include "device/disk_interfaces.h"

namespace qvb::testing {

class ScopedDiskInterfaces {
 public:
  explicit ScopedDiskInterfaces(DiskInterfaces& interfaces) {
    previous_ = InstallDiskInterfaces(&interfaces);
  }
  ~ScopedDiskInterfaces() { InstallDiskInterfaces(previous_); }
  ScopedDiskInterfaces(const ScopedDiskInterfaces&) = delete;
  ScopedDiskInterfaces& operator=(const ScopedDiskInterfaces&) = delete;

 private:
  DiskInterfaces* previous_ = nullptr;
};

}  // namespace qvb::testing
