#include "firmware/power_cycle.h"

#include <algorithm>
#include <cctype>

#include "device/disk_interfaces.h"

namespace qvb {
namespace {

// Device paths name the same disk in any letter case: the refresh lower-cases them.
std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool Same(const FirmwareVersion& a, const FirmwareVersion& b) {
  return a.major == b.major && a.minor == b.minor && a.patch == b.patch && a.build == b.build;
}

}  // namespace

std::vector<PowerCycleWatch::Entry>::iterator PowerCycleWatch::Find(const std::string& path) {
  const std::string key = Lower(path);
  return std::find_if(entries_.begin(), entries_.end(),
                      [&](const Entry& entry) { return entry.path == key; });
}

void PowerCycleWatch::Record(const std::string& path) {
  Entry entry{Lower(path), ActiveDiskInterfaces().SerialNumber(path.c_str())};
  const auto found = Find(path);
  if (found != entries_.end())
    *found = std::move(entry);
  else
    entries_.push_back(std::move(entry));
}

void PowerCycleWatch::Observe(const DiskScan& scan) {
  std::erase_if(entries_, [&](const Entry& entry) {
    const bool present = std::any_of(scan.disks.begin(), scan.disks.end(), [&](const auto& disk) {
      return Lower(disk.path) == entry.path;
    });
    if (!present) return true;
    // The same node with another serial number is another disk. A serial that cannot be read
    // now proves nothing: the bridge keeps waiting rather than be offered the update again.
    if (entry.serial.empty()) return false;
    const std::string serial = ActiveDiskInterfaces().SerialNumber(entry.path.c_str());
    return !serial.empty() && serial != entry.serial;
  });
}

bool PowerCycleWatch::Waiting(const std::string& path, const DeviceStatus& status) {
  const auto found = Find(path);
  if (found == entries_.end()) return false;
  if (status.outcome == StatusRead::Read && Same(status.version, kWrittenVersion)) {
    entries_.erase(found);
    return false;
  }
  return true;
}

}  // namespace qvb
