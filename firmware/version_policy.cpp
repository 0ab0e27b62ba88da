#include "firmware/version_policy.h"

#include "device/firmware_image.h"
#include "device/image_digest.h"
#include "device/test_device.h"

namespace qvb {

FirmwareStatus ClassifyVersion(const FirmwareVersion& v) {
  if (v.major == 133 && v.minor == 1 && v.patch == 0 && v.build <= 5)
    return FirmwareStatus::UpdateRequired;
  if (v.major == 133 && v.minor == 1 && v.patch == 0 && v.build == 6)
    return FirmwareStatus::UpToDate;
  return FirmwareStatus::NotSupported;
}

std::string CarriedFirmwareText() {
  const FirmwareVersion& v = kCarriedFirmwareVersion;
  std::string text = "Firmware: " + std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
                     std::to_string(v.patch) + "." + std::to_string(v.build) + ", SHA-256 ";
  const Sha256Digest* digest = RecordedImageDigest(kFirmwareImageName);
  if (digest) {
    static const char kHex[] = "0123456789abcdef";
    for (uint8_t byte : *digest) {
      text += kHex[byte >> 4];
      text += kHex[byte & 15];
    }
  } else {
    text += "unknown (no image carried)";
  }
  text += "\n";
  if (CarriesTestImages())
    text +=
        "Test build: the firmware images are generated test data; it writes only to test "
        "devices (the virtual bridge and the test rigs' gadgets), never to a real bridge.\n";
  return text;
}

}  // namespace qvb
