// Installation points of the host seams.
#include "device/scsi_host.h"
#include "device/system_services.h"

namespace qvb {
namespace {
ScsiHost* g_scsi_host = nullptr;
SystemServices* g_system = nullptr;
}  // namespace

ScsiHost& ActiveScsiHost() {
  return g_scsi_host ? *g_scsi_host : PlatformScsiHost();
}

ScsiHost* InstallScsiHost(ScsiHost* host) {
  ScsiHost* previous = g_scsi_host;
  g_scsi_host = host;
  return previous;
}

SystemServices& System() {
  return g_system ? *g_system : PlatformSystemServices();
}

SystemServices* InstallSystemServices(SystemServices* services) {
  SystemServices* previous = g_system;
  g_system = services;
  return previous;
}

}  // namespace qvb
