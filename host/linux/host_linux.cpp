// The linux host object: its backends (device/linux/) and the images this build carries. No shell
// prompt to close here: the shell services stay the default, which finds no window.
#include "host/host.h"

#include "device/platform_host.h"

namespace qvb {

HostSeams ThisHost() {
  return {.scsi = &PlatformScsiHost(),
          .disks = &PlatformDiskInterfaces(),
          .system = &PlatformSystemServices(),
          .images = &BuildImages()};
}

}  // namespace qvb
