// What the window's refresh and status check learn about the attached disks, without the window:
// one scan of the disks as the refresh makes it, and the version read of one disk as the status
// check makes it. The command line uses both, so that it sees the devices as the window does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/enumeration.h"
#include "firmware/version_policy.h"

namespace qvb {

constexpr int kScanPathBuffers = 16;
constexpr std::size_t kScanPathBufferSize = 256;
constexpr int kScanInquiryLength = 40;
constexpr std::size_t kNameTextSize = 24;

struct ScannedDisk {
  std::string path;    // lower-cased, as the refresh stores it in the device table
  Bus bus = Bus::Usb;  // from the disk-interface list, as the scan found it
  bool inquiry_ok = false;
  // This disk's own INQUIRY identification, raw (8 and 16 bytes); empty when INQUIRY failed.
  std::string vendor;
  std::string product;
  // The refresh's name text at this disk: the last successful INQUIRY of the scan (this disk's
  // or an earlier one's), up to its first NUL. The window's list line is the bus prefix and this.
  std::string name_text;
  uint8_t model_code = 0;  // IdentifyBridge's result; 0: the window does not list the disk

  bool listed() const { return model_code != 0; }
};

struct DiskScan {
  int disk_count = 0;              // paths the enumeration returned
  std::vector<ScannedDisk> disks;  // every returned path, in the enumeration's order

  int ListedCount() const;
  // The path the status check would address: the first listed disk, or with none listed the
  // last disk examined (the device table's entry 0 holds it then); null without disks.
  const ScannedDisk* StatusTarget() const;
};

// The refresh's device loop: enumerate (16 paths of 256 bytes, FireWire included), and for each
// path lower-case it, INQUIRY 40 bytes, identify. Nothing of the window is touched.
DiskScan ScanBridgeDisks();

enum class StatusRead {
  Read,          // the version was read
  NotQvb886,     // IdentifyBridge gave another model code
  ConfigFailed,  // ReadBridgeConfig failed
  InfoFailed,    // ReadBridgeInfo failed, returned nothing or lacks the signature
};

struct DeviceStatus {
  StatusRead outcome = StatusRead::NotQvb886;
  uint8_t model_code = 0;
  FirmwareVersion version{};                             // when Read
  FirmwareStatus status = FirmwareStatus::NotSupported;  // when Read
};

// The status check's device steps on one path: identify (must be the QVB886), read the
// configuration word, the flash identification where the word asks for it, the information
// block, and wait for the flash; then classify the version. Nothing is shown.
DeviceStatus ReadDeviceStatus(const char* path);

}  // namespace qvb
