// The backends' own implementations of the seams, one set per host (device/win32, device/linux).
// Only the host object (host/<host>/host_<host>.cpp) gathers them into one HostSeams; a program
// installs that (host/host.h), never these one by one.
#pragma once

#include "device/seams.h"

namespace qvb {

ScsiHost& PlatformScsiHost();
DiskInterfaces& PlatformDiskInterfaces();
SystemServices& PlatformSystemServices();
// Windows only: a host with no shell prompt to close leaves the default (device/seams.cpp).
ShellServices& PlatformShellServices();

}  // namespace qvb
