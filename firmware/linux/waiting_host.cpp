// Where a Linux host keeps the waiting records, and how it tells one start of the machine from
// the next.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "firmware/waiting_record.h"

namespace qvb {
namespace {

std::string UserStateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  // A relative value is to be ignored, as for every XDG folder.
  if (state && state[0] == '/') return state;
  const char* home = std::getenv("HOME");
  if (!home || home[0] != '/') return "";
  return (std::filesystem::path(home) / ".local" / "state").string();
}

}  // namespace

HostMoment CurrentMoment() {
  HostMoment moment;
  moment.now = std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count();
  std::ifstream boot_id("/proc/sys/kernel/random/boot_id");
  std::getline(boot_id, moment.boot);
  if (moment.boot.size() > 64) moment.boot.clear();
  return moment;
}

std::string WaitingRecordFolder(bool virtual_devices) {
  if (!virtual_devices && geteuid() == 0) return "/var/lib/qvb886-fwupdate";
  const std::string state = UserStateFolder();
  if (state.empty()) return "";
  return (std::filesystem::path(state) / "qvb886-fwupdate").string();
}

}  // namespace qvb
