// The command line's hot-plug source on Windows: none. A console program has no window for
// WM_DEVICECHANGE, and a hidden one would need a message loop beside the wait; looking at the
// enumeration on every poll finds the same going and coming back, a poll later at most.
#include <windows.h>

#include "cli/power_cycle_wait.h"

namespace qvb::cli {
namespace {

class Pause : public DeviceChangeSource {
 public:
  bool Wait(uint32_t timeout_ms) override {
    ::Sleep(timeout_ms);
    return false;
  }
  uint64_t NowMs() override { return GetTickCount64(); }
};

}  // namespace

std::unique_ptr<DeviceChangeSource> OpenDeviceChangeSource(bool) {
  return std::make_unique<Pause>();
}

}  // namespace qvb::cli
