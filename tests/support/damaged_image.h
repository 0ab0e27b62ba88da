// A resource lookup whose update image has one byte changed, as a damaged executable would carry
// it; every other name is looked up as usual. For tests of the image check.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "device/firmware_image.h"

namespace qvb::testing {

inline FirmwareResource DamagedImage(const char* name) {
  static const std::vector<uint8_t> damaged = [] {
    const FirmwareResource carried = FindFirmwareResource(kFirmwareImageName);
    std::vector<uint8_t> bytes(carried.bytes, carried.bytes + carried.size);
    bytes[bytes.size() / 2] ^= 0x01;
    return bytes;
  }();
  if (std::strcmp(name, kFirmwareImageName) == 0)
    return {true, damaged.data(), static_cast<uint32_t>(damaged.size())};
  return FindFirmwareResource(name);
}

}  // namespace qvb::testing
