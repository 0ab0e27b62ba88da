#include "cli/access_monitor.h"

#include <algorithm>

#include "device/path_identity.h"

namespace qvb::cli {

AccessMonitor::AccessMonitor(ScsiHost& inner) : watch_(inner) {
  watch_.after_open = [this](const char* path, ShareMode, const ScsiResult& result) {
    if (result.outcome == ScsiOutcome::Permission) RecordDenied(path);
  };
  watch_.after_send = [this](const std::string& path, const ScsiRequest&,
                             const ScsiResult& result) {
    if (result.outcome == ScsiOutcome::Permission) RecordDenied(path.c_str());
  };
}

void AccessMonitor::Install() {
  if (!installed_) installed_ = std::make_unique<ScopedSeams>(HostSeams{.scsi = &watch_});
}

AccessMonitor::~AccessMonitor() = default;

bool AccessMonitor::WasDenied(const std::string& path) const {
  const std::string lower = LowerCase(path);
  return std::find(denied_.begin(), denied_.end(), lower) != denied_.end();
}

void AccessMonitor::RecordDenied(const char* path) {
  if (!path || WasDenied(path)) return;
  denied_.push_back(LowerCase(path));
}

}  // namespace qvb::cli
