// Bridges that have been written and verified and wait for their power cycle. The new firmware
// runs only after the device has been powered off and on; until then the bridge still reports
// its old version, and offering the update again would write it a second time. The window and
// the command line keep one of these each and show such a bridge as waiting; with a record
// store, every run of either front end shares the same records.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "firmware/device_status.h"
#include "firmware/waiting_record.h"

namespace qvb {

// The version the carried image holds: a bridge that reports it runs the written firmware.
constexpr FirmwareVersion kWrittenVersion{133, 1, 0, 6};

class PowerCycleWatch {
 public:
  // Records that live as long as this object.
  PowerCycleWatch() = default;
  // Records kept in `store` as well: read again before every question, written after every
  // change, so that a run sees what another run recorded.
  explicit PowerCycleWatch(std::unique_ptr<WaitingRecordStore> store);

  // The bridge at `path` has been written and verified. It is known by what the host can tell of
  // it: its path, its USB serial number where the disk-interface list tells one, its INQUIRY
  // vendor and product (`identification`) and the model and version read before the write
  // (`before`). False, with `error` set, when the store could not be written: the record then
  // holds for this object only.
  bool Record(const std::string& path, const std::string& identification,
              const DeviceStatus& before, std::string* error = nullptr);

  // After an enumeration: a bridge that is not among `scan`'s disks has been unplugged or
  // powered off, and one whose path now belongs to a disk with another serial number or another
  // INQUIRY identification has gone too; neither waits any longer. Paths in `unexamined` could
  // not be looked at (permission, another program holding them): their records stay.
  void Observe(const DiskScan& scan, const std::vector<std::string>& unexamined = {});

  // Whether the bridge at `path`, whose status has just been read, still waits. Once it reports
  // the written version it runs the new firmware and waits no more; a version that is neither
  // the one before the write nor the written one, or another model, is another bridge. A read
  // that fails, or shows the old version, leaves it waiting.
  bool Waiting(const std::string& path, const DeviceStatus& status);

  // The record of the bridge at `path`, if it waits.
  std::optional<WaitingBridge> Find(const std::string& path);
  const WaitingRecordStore* store() const { return store_.get(); }

 private:
  std::vector<WaitingBridge>::iterator Locate(const std::string& path);
  void Load();
  void Save();

  std::vector<WaitingBridge> entries_;
  std::unique_ptr<WaitingRecordStore> store_;
  // A record that could not be written stays in this object rather than be lost to a reload.
  bool unsaved_ = false;
};

}  // namespace qvb
