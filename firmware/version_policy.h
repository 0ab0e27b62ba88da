// Which running versions this program updates; shared by the window and the command line.
#pragma once

#include <cstdint>
#include <string>

namespace qvb {

struct FirmwareVersion {
  uint8_t major, minor, patch, build;  // information block bytes 12 to 15
};

// The version of the update image the program carries.
constexpr FirmwareVersion kCarriedFirmwareVersion{133, 1, 0, 6};

enum class FirmwareStatus { UpdateRequired, UpToDate, NotSupported };

// 133.1.0.0 to 133.1.0.5 need the carried 133.1.0.6; anything else is refused.
FirmwareStatus ClassifyVersion(const FirmwareVersion& version);

// What the build carries, for --version: the update image's version and SHA-256, and a line
// saying so when it is a test build.
std::string CarriedFirmwareText();

}  // namespace qvb
