// Bridges this run of the program has written and verified. The new firmware runs only after the
// device has been powered off and on; until then the bridge still reports its old version, and
// offering the update again would write it a second time. The window and the command line keep
// one of these each and show such a bridge as waiting for its power cycle.
#pragma once

#include <string>
#include <vector>

#include "firmware/device_status.h"

namespace qvb {

// The version the carried image holds: a bridge that reports it runs the written firmware.
constexpr FirmwareVersion kWrittenVersion{133, 1, 0, 6};

class PowerCycleWatch {
 public:
  // The bridge at `path` has been written and verified. It is known by its path and, where the
  // disk-interface list tells one, by its USB serial number.
  void Record(const std::string& path);

  // After an enumeration: a bridge that is not among `scan`'s disks has been unplugged or
  // powered off, and one whose node now belongs to a disk with another serial number has gone
  // too; neither waits any longer.
  void Observe(const DiskScan& scan);

  // Whether the bridge at `path`, whose status has just been read, still waits. Once it reports
  // the written version it runs the new firmware and waits no more; any other answer, a failed
  // read included, leaves it waiting.
  bool Waiting(const std::string& path, const DeviceStatus& status);

 private:
  struct Entry {
    std::string path;    // lower-cased
    std::string serial;  // empty when the host tells none
  };
  std::vector<Entry>::iterator Find(const std::string& path);

  std::vector<Entry> entries_;
};

}  // namespace qvb
