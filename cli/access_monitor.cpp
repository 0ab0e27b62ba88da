#include "cli/access_monitor.h"

#include <algorithm>

#include "device/path_identity.h"

namespace qvb::cli {
namespace {

std::optional<Refusal> RefusalFor(const ScsiResult& result) {
  if (result.outcome == ScsiOutcome::Permission) return Refusal::Permission;
  if (result.outcome == ScsiOutcome::Busy) return Refusal::Busy;
  return std::nullopt;
}

}  // namespace

bool AnyDenied(const std::vector<RefusedDisk>& refused) {
  return std::any_of(refused.begin(), refused.end(),
                     [](const RefusedDisk& disk) { return disk.reason == Refusal::Permission; });
}

AccessMonitor::AccessMonitor(ScsiHost& inner) : watch_(inner) {
  watch_.after_open = [this](const char* path, ShareMode, const ScsiResult& result) {
    if (const auto reason = RefusalFor(result)) Record(path, *reason);
  };
  watch_.after_send = [this](const std::string& path, const ScsiRequest&,
                             const ScsiResult& result) {
    if (const auto reason = RefusalFor(result)) Record(path.c_str(), *reason);
  };
}

void AccessMonitor::Install() {
  if (!installed_) installed_ = std::make_unique<ScopedSeams>(HostSeams{.scsi = &watch_});
}

AccessMonitor::~AccessMonitor() = default;

std::vector<std::string> AccessMonitor::RefusedPaths() const {
  std::vector<std::string> paths;
  for (const auto& disk : refused_) paths.push_back(disk.path);
  return paths;
}

std::optional<Refusal> AccessMonitor::RefusalOf(const std::string& path) const {
  const std::string lower = LowerCase(path);
  for (const auto& disk : refused_)
    if (disk.path == lower) return disk.reason;
  return std::nullopt;
}

void AccessMonitor::Record(const char* path, Refusal reason) {
  if (!path) return;
  const std::string lower = LowerCase(path);
  for (auto& disk : refused_) {
    if (disk.path != lower) continue;
    if (reason == Refusal::Permission) disk.reason = Refusal::Permission;
    return;
  }
  refused_.push_back({lower, reason});
}

}  // namespace qvb::cli
