// An image lookup whose update image has one byte changed, as a damaged executable would carry
// it; every other name is looked up as usual. For tests of the image check.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "device/firmware_image.h"
#include "tests/support/image_lookup.h"

namespace qvb::testing {

inline FirmwareResource DamagedImage(CarriedImages& carried, const char* name) {
  static const std::vector<uint8_t> damaged = [&carried] {
    const FirmwareResource image = carried.Find(kFirmwareImageName);
    std::vector<uint8_t> bytes(image.bytes, image.bytes + image.size);
    bytes[bytes.size() / 2] ^= 0x01;
    return bytes;
  }();
  if (std::strcmp(name, kFirmwareImageName) == 0)
    return {true, damaged.data(), static_cast<uint32_t>(damaged.size())};
  return carried.Find(name);
}

}  // namespace qvb::testing
