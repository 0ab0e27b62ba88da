// Installation point of the disk-interface seam.
#include "device/disk_interfaces.h"

namespace qvb {
namespace {
DiskInterfaces* g_disk_interfaces = nullptr;
}  // namespace

DiskInterfaces& ActiveDiskInterfaces() {
  return g_disk_interfaces ? *g_disk_interfaces : PlatformDiskInterfaces();
}

DiskInterfaces* InstallDiskInterfaces(DiskInterfaces* interfaces) {
  DiskInterfaces* previous = g_disk_interfaces;
  g_disk_interfaces = interfaces;
  return previous;
}

}  // namespace qvb
