#include "firmware/power_cycle.h"

#include <algorithm>
#include <cctype>

#include "device/disk_interfaces.h"
#include "device/path_identity.h"

namespace qvb {
namespace {

bool Same(const FirmwareVersion& a, const FirmwareVersion& b) {
  return a.major == b.major && a.minor == b.minor && a.patch == b.patch && a.build == b.build;
}

}  // namespace

PowerCycleWatch::PowerCycleWatch(std::unique_ptr<WaitingRecordStore> store)
    : store_(std::move(store)) {}

void PowerCycleWatch::Load() {
  if (store_ && !unsaved_) entries_ = store_->Load();
}

void PowerCycleWatch::Save() {
  if (!store_) return;
  std::string ignored;
  unsaved_ = !store_->Save(entries_, ignored);
}

std::vector<WaitingBridge>::iterator PowerCycleWatch::Locate(const std::string& path) {
  const std::string key = LowerCase(path);
  return std::find_if(entries_.begin(), entries_.end(),
                      [&](const WaitingBridge& entry) { return entry.path == key; });
}

bool PowerCycleWatch::Record(const std::string& path, const std::string& identification,
                             const DeviceStatus& before, std::string* error) {
  Load();
  const HostMoment moment = store_ ? store_->Now() : HostMoment{};
  WaitingBridge entry{LowerCase(path), ActiveDiskInterfaces().SerialNumber(path.c_str()),
                      identification,  before.model_code,
                      before.version,  kWrittenVersion,
                      moment.now,      moment.boot};
  const auto found = Locate(path);
  if (found != entries_.end())
    *found = std::move(entry);
  else
    entries_.push_back(std::move(entry));
  if (!store_) return true;
  std::string reason;
  unsaved_ = !store_->Save(entries_, reason);
  if (unsaved_ && error) *error = reason;
  return !unsaved_;
}

void PowerCycleWatch::Observe(const DiskScan& scan, const std::vector<std::string>& unexamined) {
  Load();
  const auto before = entries_.size();
  std::erase_if(entries_, [&](const WaitingBridge& entry) {
    for (const auto& path : unexamined)
      if (SamePath(path, entry.path)) return false;
    const auto disk = std::find_if(scan.disks.begin(), scan.disks.end(),
                                   [&](const auto& d) { return SamePath(d.path, entry.path); });
    if (disk == scan.disks.end()) return true;
    // Another bridge answering on that path (a port-based path, a re-used node) tells itself by
    // its INQUIRY identification; one that could not be read proves nothing.
    if (disk->inquiry_ok && !entry.identification.empty() &&
        disk->vendor + disk->product != entry.identification)
      return true;
    // The same node with another serial number is another disk. A serial that cannot be read
    // now proves nothing: the bridge keeps waiting rather than be offered the update again.
    if (entry.serial.empty()) return false;
    const std::string serial = ActiveDiskInterfaces().SerialNumber(entry.path.c_str());
    return !serial.empty() && serial != entry.serial;
  });
  if (entries_.size() != before) Save();
}

bool PowerCycleWatch::Waiting(const std::string& path, const DeviceStatus& status) {
  Load();
  const auto found = Locate(path);
  if (found == entries_.end()) return false;
  bool ended = false;
  if (status.outcome == StatusRead::Read) {
    // The written version runs: the power cycle has happened. Any version but the two it can
    // report is another bridge (cloned bridges share serial numbers).
    ended = Same(status.version, found->written) || !Same(status.version, found->previous);
  } else if (status.outcome == StatusRead::NotQvb886) {
    // Another model answers there; a bridge that did not identify at all may be this one,
    // still starting or failing one command.
    ended = status.model_code != 0 && status.model_code != found->model_code;
  }
  if (!ended) return true;
  entries_.erase(found);
  Save();
  return false;
}

std::optional<WaitingBridge> PowerCycleWatch::Find(const std::string& path) {
  Load();
  const auto found = Locate(path);
  if (found == entries_.end()) return std::nullopt;
  return *found;
}

}  // namespace qvb
