// Watches the real devices for refusals: a disk whose node cannot be opened, or whose commands
// the system rejects, for lack of permission. The enumeration drops such a disk without a word;
// the command line reports it instead.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/seams.h"

namespace qvb::cli {

class AccessMonitor : public ScsiHost {
 public:
  using ErrorSource = std::function<uint32_t()>;
  using ErrorTest = std::function<bool(uint32_t)>;

  // `open_error` is read right after `inner` failed to open; `is_permission` sorts error codes.
  AccessMonitor(ScsiHost& inner, ErrorSource open_error, ErrorTest is_permission);
  // Installs itself over the active host for its lifetime.
  void Install();
  ~AccessMonitor() override;
  AccessMonitor(const AccessMonitor&) = delete;
  AccessMonitor& operator=(const AccessMonitor&) = delete;

  std::unique_ptr<ScsiDevice> Open(const char* path, ShareMode share) override;

  // The refused paths, lower-cased, each once, in the order first refused.
  const std::vector<std::string>& denied() const { return denied_; }
  bool WasDenied(const std::string& path) const;

  void RecordDenied(const char* path);

 private:
  ScsiHost& inner_;
  ErrorSource open_error_;
  ErrorTest is_permission_;
  std::vector<std::string> denied_;
  std::unique_ptr<ScopedSeams> installed_;
};

// Letters compared without regard to ASCII case: the refresh lower-cases paths.
std::string LowerCase(std::string text);
bool SamePath(const std::string& a, const std::string& b);

}  // namespace qvb::cli
