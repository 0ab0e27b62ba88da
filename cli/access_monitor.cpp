#include "cli/access_monitor.h"

#include <algorithm>
#include <cctype>

namespace qvb::cli {

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool SamePath(const std::string& a, const std::string& b) {
  return LowerCase(a) == LowerCase(b);
}

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
