#include "firmware/device_status.h"

#include <array>
#include <cctype>
#include <cstring>

#include "device/bridge_commands.h"
#include "device/enumeration.h"
#include "device/identification.h"
#include "device/path_identity.h"

namespace qvb {

int DiskScan::ListedCount() const {
  int listed = 0;
  for (const auto& disk : disks) listed += disk.listed() ? 1 : 0;
  return listed;
}

const ScannedDisk* DiskScan::StatusTarget() const {
  for (const auto& disk : disks)
    if (disk.listed()) return &disk;
  return disks.empty() ? nullptr : &disks.back();
}

DiskScan ScanBridgeDisks() {
  std::vector<std::array<char, kScanPathBufferSize>> buffers(kScanPathBuffers);
  std::array<char*, kScanPathBuffers> paths{};
  for (std::size_t i = 0; i < paths.size(); ++i) paths[i] = buffers[i].data();

  DiskScan scan;
  scan.disk_count = EnumerateBridgeDisks(paths.data(), kScanPathBuffers, kScanPathBufferSize, 1);
  // The enumeration promises no more than its capacity; a broken count reads nothing beyond.
  const int returned = scan.disk_count < kScanPathBuffers ? scan.disk_count : kScanPathBuffers;

  std::array<uint8_t, kScanInquiryLength> inquiry{};
  std::array<uint8_t, kNameTextSize> name{};
  for (int i = 0; i < returned; ++i) {
    char* returned_path = paths[static_cast<std::size_t>(i)];
    returned_path[kScanPathBufferSize - 1] = '\0';

    ScannedDisk disk;
    disk.path = LowerCase(returned_path);  // as the refresh lists it
    const char* path = disk.path.c_str();
    disk.bus = BusOfPath(path);
    disk.inquiry_ok = Inquiry(path, inquiry.data(), kScanInquiryLength) != 0;
    if (disk.inquiry_ok) {
      std::memcpy(name.data(), inquiry.data() + 8, kNameTextSize);
      disk.vendor.assign(reinterpret_cast<const char*>(inquiry.data() + 8), 8);
      disk.product.assign(reinterpret_cast<const char*>(inquiry.data() + 16), 16);
    }
    std::size_t length = 0;
    while (length < name.size() && name[length] != 0) ++length;
    disk.name_text.assign(reinterpret_cast<const char*>(name.data()), length);
    disk.model_code = IdentifyBridge(path);
    scan.disks.push_back(std::move(disk));
  }
  return scan;
}

DeviceStatus ReadDeviceStatus(const char* path) {
  DeviceStatus result;
  result.model_code = IdentifyBridge(path);
  if (result.model_code != kModelCodeQvb886) {
    result.outcome = StatusRead::NotQvb886;
    return result;
  }
  std::array<uint8_t, 4> config{};
  if (!ReadBridgeConfig(path, config.data())) {
    result.outcome = StatusRead::ConfigFailed;
    return result;
  }
  if (config[0] == 0 || config[0] == 1 || config[0] == 3) {
    std::array<uint8_t, 4> flash_id{};
    ReadFlashId(path, flash_id.data());  // its outcome changes nothing
  }
  std::array<uint8_t, kBridgeInfoSize> info{};
  int transferred = 0;
  if (ReadBridgeInfo(path, info.data(), kBridgeInfoSize, &transferred) <= 0 ||
      info[0] != kBridgeInfoSignature0 || info[1] != kBridgeInfoSignature1) {
    result.outcome = StatusRead::InfoFailed;
    return result;
  }
  WaitFlashReady(path);  // a flash that stays busy still has its version read
  result.outcome = StatusRead::Read;
  result.version = FirmwareVersion{info[12], info[13], info[14], info[15]};
  result.status = ClassifyVersion(result.version);
  return result;
}

}  // namespace qvb
