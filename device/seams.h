// The one way to say what stands behind the device layer: the SCSI host, the disk-interface
// list, the system services, the shell services and the carried images. A program's main installs
// the machine's own (host/host.h); the virtual devices, the tests, the demo, the fuzzers and the
// bench install theirs over them for a while.
#pragma once

#include "device/carried_images.h"
#include "device/disk_interfaces.h"
#include "device/scsi_host.h"
#include "device/shell_services.h"
#include "device/system_services.h"

namespace qvb {

// The implementations behind the seams. A null member leaves that seam as it is.
struct HostSeams {
  ScsiHost* scsi = nullptr;
  DiskInterfaces* disks = nullptr;
  SystemServices* system = nullptr;
  ShellServices* shell = nullptr;
  CarriedImages* images = nullptr;
};

// Installs `seams` for the object's lifetime and then puts back what was there. Nothing
// installed at all: no disk is found or opened, pauses and debug text still work, message boxes
// go to the error stream, no Windows version is known, and no image is carried.
class ScopedSeams {
 public:
  explicit ScopedSeams(const HostSeams& seams);
  ~ScopedSeams();
  ScopedSeams(const ScopedSeams&) = delete;
  ScopedSeams& operator=(const ScopedSeams&) = delete;

 private:
  HostSeams installed_;
  HostSeams previous_;
};

}  // namespace qvb
