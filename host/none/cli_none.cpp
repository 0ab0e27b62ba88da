// The none host's part of the command line: no terminal known, no signals to hold back, no
// hot-plug events.
#include <chrono>
#include <memory>
#include <thread>

#include "cli/interrupt_guard.h"
#include "cli/platform.h"
#include "cli/power_cycle_wait.h"
#include "device/privileges.h"

namespace qvb {
namespace cli {

// cli/platform.h
const char* PrivilegeNote() {
  return kRawIoPrivilegeText;
}
bool IsTerminal(int) {
  return false;
}
void PrepareProcess() {}

// cli/interrupt_guard.h: nothing to hold back.
struct InterruptGuard::State {};
InterruptGuard::InterruptGuard(bool hold_now) {
  if (hold_now) Hold();
}
InterruptGuard::~InterruptGuard() = default;
void InterruptGuard::Hold() {
  holding_ = true;
}
int InterruptGuard::Poll() {
  return 0;
}

// cli/power_cycle_wait.h: no hot-plug events; the wait looks at the enumeration at every pause.
namespace {
class Pause : public DeviceChangeSource {
 public:
  bool Wait(uint32_t timeout_ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
    return false;
  }
  uint64_t NowMs() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
};
}  // namespace

std::unique_ptr<DeviceChangeSource> OpenDeviceChangeSource(bool) {
  return std::make_unique<Pause>();
}

}  // namespace cli
}  // namespace qvb
