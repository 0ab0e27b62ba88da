// The win32 host object: its backends (device/win32/) and the images this build carries.
#include "host/host.h"

#include "device/platform_host.h"

namespace qvb {

HostSeams ThisHost() {
  return {&PlatformScsiHost(), &PlatformDiskInterfaces(), &PlatformSystemServices(),
          &PlatformShellServices(), &BuildImages()};
}

}  // namespace qvb
