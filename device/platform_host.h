// The machine's own implementations of the host seams, from device/win32 or device/linux.
#pragma once

#include "device/seams.h"

namespace qvb {

ScsiHost& PlatformScsiHost();
DiskInterfaces& PlatformDiskInterfaces();
SystemServices& PlatformSystemServices();
ShellServices& PlatformShellServices();

// All four, for a program's main to install.
inline HostSeams PlatformSeams() {
  return {&PlatformScsiHost(), &PlatformDiskInterfaces(), &PlatformSystemServices(),
          &PlatformShellServices()};
}

}  // namespace qvb
