#include "device/enumeration.h"

#include <array>
#include <cctype>
#include <cstring>
#include <memory>

#include "device/bridge_commands.h"
#include "device/disk_interfaces.h"
#include "device/path_identity.h"

namespace qvb {
namespace {

bool Contains(const char* text, const char* marker) {
  return std::strstr(text, marker) != nullptr;
}

// A disk that fails IsSupportedBridge may still answer the probe.
bool PassesBridgeTest(const char* path) {
  if (IsSupportedBridge(path)) return true;
  std::array<uint8_t, 2> reply{};
  return ProbeBridge(path, reply.data()) != 0;  // the reply is not looked at
}

}  // namespace

bool PassesBusFilter(const char* bus_text, uint8_t include_sbp2) {
  if (!bus_text) return false;
  if (Contains(bus_text, "usbsto")) return true;
  if (include_sbp2 && Contains(bus_text, "sbp2")) return true;
  return Contains(bus_text, "scsi");
}

int IsSupportedBridge(const char* path) {
  std::array<uint8_t, kBridgeTestInquiryLength> inquiry{};
  if (!Inquiry(path, inquiry.data(), kBridgeTestInquiryLength)) return 0;
  std::array<uint8_t, kBridgeInfoSize> info{};
  int transferred = 0;
  if (!ReadBridgeInfo(path, info.data(), kBridgeInfoSize, &transferred)) return 0;
  return 1;
}

int EnumerateBridgeDisks(char* const* paths, int capacity, std::size_t buffer_size,
                         uint8_t include_sbp2) {
  if (!paths || capacity <= 0 || buffer_size == 0) return 0;
  std::unique_ptr<DiskInterfaceWalk> walk = ActiveDiskInterfaces().Walk();
  if (!walk) return 0;

  int kept = 0;
  for (uint32_t index = 0; kept < capacity; ++index) {
    DiskInterface entry;
    if (!walk->Read(index, entry) || !entry.device_path) break;
    const char* bus_text = entry.bus_text ? entry.bus_text : entry.device_path;
    if (!PassesBusFilter(bus_text, include_sbp2)) continue;
    // A path cut to fit would name another device, or none: such a disk is left out.
    const std::size_t length = std::strlen(entry.device_path);
    if (length >= buffer_size) continue;
    if (!PassesBridgeTest(entry.device_path)) continue;
    std::memcpy(paths[kept], entry.device_path, length + 1);
    ++kept;
  }
  return kept;
}

Bus BusOfPath(const char* path) {
  const char* bus_text = path ? ActiveDiskInterfaces().BusText(path) : nullptr;
  if (!bus_text) bus_text = "";
  if (ContainsAnyCase(bus_text, "sbp2")) return Bus::Ieee1394;
  if (ContainsAnyCase(bus_text, "scsi")) return Bus::Uasp;
  return Bus::Usb;
}

const char* BusName(Bus bus) {
  switch (bus) {
    case Bus::Uasp:
      return "UASP";
    case Bus::Ieee1394:
      return "1394";
    case Bus::Usb:
      break;
  }
  return "USB";
}

const char* BusPrefix(Bus bus) {
  switch (bus) {
    case Bus::Uasp:
      return "<<UASP>> ";
    case Bus::Ieee1394:
      return "<<1394>> ";
    case Bus::Usb:
      break;
  }
  return "<<USB>> ";
}

const char* BusPrefixForPath(const char* path) {
  return BusPrefix(BusOfPath(path));
}

}  // namespace qvb
