// The none host: nothing behind any seam. It finds no disk, opens nothing, carries no image and
// holds no privilege; its programs build and say that there is no device. A port to another host
// starts as a copy of this folder (host/none/host.cmake).
#include "device/host_description.h"
#include "device/privileges.h"
#include "host/host.h"

namespace qvb {

// Nothing installed: the defaults behind the seams (device/seams.cpp) and the carried images.
HostSeams ThisHost() {
  return {.images = &BuildImages()};
}

// device/privileges.h
const char* const kRawIoPrivilegeText = "This host cannot send commands to a device.";
const char* const kRestartWithPrivilegeQuestion = "Start the updater again?";
bool HaveRawIoPrivilege() {
  return false;
}

// device/host_description.h
std::string HostDescription() {
  return "no host";
}

}  // namespace qvb
