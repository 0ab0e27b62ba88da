// After a verified write the command line waits for the power cycle and reads the version the
// bridge then reports: the new firmware runs, or the old one still does (the write did not
// take). It follows the device going and coming back through the host's hot-plug events where
// there are any, and looks again at least every kPowerCyclePollMs in any case.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "firmware/device_status.h"

namespace qvb {
class PowerCycleWatch;
}  // namespace qvb

namespace qvb::cli {

// Long enough to walk to the device and back; a user who needs longer runs status later.
constexpr uint32_t kPowerCycleWaitMs = 5 * 60 * 1000;
constexpr uint32_t kPowerCyclePollMs = 500;

// Where the hot-plug events come from, and the clock the wait is measured on.
class DeviceChangeSource {
 public:
  virtual ~DeviceChangeSource() = default;
  // Returns when a device has come or gone (true), or after `timeout_ms` (false).
  virtual bool Wait(uint32_t timeout_ms) = 0;
  // Milliseconds on a clock that only moves forward.
  virtual uint64_t NowMs() = 0;
};

// The host's source (per host: cli/linux, cli/win32). Linux: a udev monitor on the USB and
// SCSI generic subsystems; Windows: none (the enumeration is looked at on every poll). With
// `virtual_devices`, a plain pause: the scenario file is read again at every enumeration.
std::unique_ptr<DeviceChangeSource> OpenDeviceChangeSource(bool virtual_devices);

enum class WaitEnd {
  Confirmed,    // back with the written version
  NotTaken,     // gone and back with the version it had before the write
  OtherDevice,  // another bridge (model, version or identity) answers on that path now
  TimedOut,     // no power cycle within the time allowed
  Interrupted,  // the user ended the wait
};

struct PowerCycleWaitSetup {
  std::string path;
  PowerCycleWatch* watch = nullptr;  // holds the bridge's record
  DeviceChangeSource* source = nullptr;
  std::function<bool()> interrupted;  // polled between looks
  std::ostream* out = nullptr;
  bool terminal = false;  // a line that counts the seconds, redrawn in place
  uint32_t timeout_ms = kPowerCycleWaitMs;
};

struct PowerCycleWaitResult {
  WaitEnd end = WaitEnd::TimedOut;
  DeviceStatus status;    // the last status read of the device
  bool was_gone = false;  // the device was seen missing from an enumeration
};

// Waits as above; what it sees is written to `out` as it happens.
PowerCycleWaitResult WaitForPowerCycle(const PowerCycleWaitSetup& setup);

}  // namespace qvb::cli
