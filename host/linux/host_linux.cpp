// The linux host object: its backends (device/linux/) and the images this build carries.
#include "host/host.h"

#include "device/platform_host.h"

namespace qvb {

HostSeams ThisHost() {
  return {&PlatformScsiHost(), &PlatformDiskInterfaces(), &PlatformSystemServices(),
          &PlatformShellServices(), &BuildImages()};
}

}  // namespace qvb
