// Watches the real devices for refusals: a disk whose node cannot be opened, or whose commands
// the system rejects, for lack of permission. The enumeration drops such a disk without a word;
// the command line reports it instead.
#pragma once

#include <string>
#include <vector>

#include "device/guarded_scsi_host.h"
#include "device/seams.h"

namespace qvb::cli {

class AccessMonitor {
 public:
  // Watches what passes through to `inner`.
  explicit AccessMonitor(ScsiHost& inner);
  // Installs the watch over the active host for the monitor's lifetime.
  void Install();
  ~AccessMonitor();
  AccessMonitor(const AccessMonitor&) = delete;
  AccessMonitor& operator=(const AccessMonitor&) = delete;

  // The refused paths, lower-cased, each once, in the order first refused.
  const std::vector<std::string>& denied() const { return denied_; }
  bool WasDenied(const std::string& path) const;

  void RecordDenied(const char* path);

 private:
  GuardedScsiHost watch_;
  std::vector<std::string> denied_;
  std::unique_ptr<ScopedSeams> installed_;
};

}  // namespace qvb::cli
