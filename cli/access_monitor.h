// Watches the real devices for refusals: a disk whose node cannot be opened, or whose commands
// the system rejects, for lack of permission, and a disk that another program holds exclusively.
// The enumeration drops such a disk without a word; the command line reports it instead.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device/guarded_scsi_host.h"
#include "device/seams.h"

namespace qvb::cli {

enum class Refusal {
  Permission,  // no rights to the node or to the commands: more rights would help
  Busy,        // another program holds the disk: closing it would help
};

struct RefusedDisk {
  std::string path;  // lower-cased
  Refusal reason = Refusal::Permission;
};

class AccessMonitor {
 public:
  // Watches what passes through to `inner`.
  explicit AccessMonitor(ScsiHost& inner);
  // Installs the watch over the active host for the monitor's lifetime.
  void Install();
  ~AccessMonitor();
  AccessMonitor(const AccessMonitor&) = delete;
  AccessMonitor& operator=(const AccessMonitor&) = delete;

  // The refused disks, each once, in the order first refused.
  const std::vector<RefusedDisk>& refused() const { return refused_; }
  // Their paths, whatever the reason: disks that may be there but could not be examined.
  std::vector<std::string> RefusedPaths() const;
  std::optional<Refusal> RefusalOf(const std::string& path) const;
  // Refused for lack of permission.
  bool WasDenied(const std::string& path) const { return RefusalOf(path) == Refusal::Permission; }

  // A refusal for lack of permission outweighs a busy one seen for the same disk: only rights
  // make its commands pass once the other program lets go.
  void Record(const char* path, Refusal reason);

 private:
  GuardedScsiHost watch_;
  std::vector<RefusedDisk> refused_;
  std::unique_ptr<ScopedSeams> installed_;
};

// Whether any of them was for lack of permission.
bool AnyDenied(const std::vector<RefusedDisk>& refused);

}  // namespace qvb::cli
