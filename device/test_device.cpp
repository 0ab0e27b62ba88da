#include "device/test_device.h"

#include <array>
#include <cstring>

#include "device/bridge_commands.h"
#include "device/carried_images.h"

namespace qvb {

bool CarriesTestImages() {
  return Images().AreTestImages();
}

int IsTestDevice(const char* path) {
  // Zero-filled, so a reply that stops short of the mark cannot match it.
  std::array<uint8_t, kTestDeviceInquiryLength> inquiry{};
  if (!Inquiry(path, inquiry.data(), kTestDeviceInquiryLength)) return 0;
  return std::memcmp(inquiry.data() + kTestDeviceMarkAt, kTestDeviceMark, kTestDeviceMarkSize) == 0
             ? 1
             : 0;
}

int MayWriteFirmware(const char* path) {
  if (!CarriesTestImages()) return 1;
  return IsTestDevice(path);
}

}  // namespace qvb
