// Virtual devices that follow a scenario file while a program runs: the file is read again at
// every enumeration, so whoever drives the program can change what is attached and send a
// hot-plug event. A file that has not changed is not loaded again, so a device keeps its flash
// (and its faults keep their counts) from one refresh to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "device/disk_interfaces.h"
#include "device/scsi_host.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb::virt {

// The scenario file of a program variant built on the virtual bridge.
constexpr const char* kScenarioVariable = "QVB_SCENARIO";
// When set, the flash of the first virtual device is written to this file as the program ends.
constexpr const char* kFlashOutVariable = "QVB_FLASH_OUT";
// When set, every device open first pauses this many milliseconds: the virtual devices then
// work at a pace that someone driving the window from outside can act within (an update of
// 130 commands takes 130 pauses).
constexpr const char* kOpenDelayVariable = "QVB_OPEN_DELAY_MS";

class LiveScenario : public ScsiHost, public DiskInterfaces {
 public:
  // An empty file name: no file is read, the bridge's devices are whatever its owner puts there.
  explicit LiveScenario(std::string file);

  // Loads the file when its contents differ from the last load. A file that cannot be read
  // detaches every device; a malformed one, or one refused by ReadScenarioFile (a folder, a
  // pipe, too large), leaves the devices as they were and sets error().
  // Returns whether the devices were replaced.
  bool Refresh();

  // ScsiHost and DiskInterfaces: the bridge's, with a Refresh before every walk.
  ScsiOpen Open(const char* path, ShareMode share) override;
  std::unique_ptr<DiskInterfaceWalk> Walk() override;
  const char* BusText(const char* device_path) override { return bridge_.BusText(device_path); }
  std::string SerialNumber(const char* device_path) override {
    return bridge_.SerialNumber(device_path);
  }

  VirtualBridge& bridge() { return bridge_; }
  const std::string& file() const { return file_; }
  // What was wrong with the file at the last Refresh; empty when it loaded.
  const std::string& error() const { return error_; }
  int loads() const { return loads_; }
  // The last Refresh found a file and loaded it (false also when nothing was refreshed yet).
  bool loaded() const { return source_ == Source::Loaded; }
  void set_open_delay(uint32_t milliseconds) { open_delay_ms_ = milliseconds; }

 private:
  enum class Source { None, Missing, Loaded };
  std::string file_;
  std::string text_;  // the contents of the last load
  Source source_ = Source::None;
  std::string error_;
  std::string rejected_;  // the contents that error_ is about
  int loads_ = 0;
  uint32_t open_delay_ms_ = 0;
  VirtualBridge bridge_;
};

// Writes the flash of device `index` to `file`. False when there is no such device or the file
// cannot be written whole.
bool WriteFlashFile(VirtualBridge& bridge, std::size_t index, const std::string& file);

// The whole scenario file, as bytes; false when it cannot be read, or is not a regular file of
// at most kMaxScenarioBytes (ReadScenarioFile).
bool ReadWholeFile(const std::string& file, std::string& text);

}  // namespace qvb::virt
