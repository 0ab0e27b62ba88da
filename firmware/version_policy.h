// Which running versions this program updates; shared by the window and the command line.
#pragma once

#include <cstdint>
#include <string>

namespace qvb {

struct FirmwareVersion {
  uint8_t major, minor, patch, build;  // information block bytes 12 to 15
};

enum class FirmwareStatus { UpdateRequired, UpToDate, NotSupported };

// 133.1.0.0 to 133.1.0.5 need the carried 133.1.0.6; anything else is refused.
FirmwareStatus ClassifyVersion(const FirmwareVersion& version);
// "Firmware version: %.2d.%.2d.%.2d.%.2d"
std::string VersionText(const FirmwareVersion& version);
// "Status: Update required", "Status: Up to date", "Status: Not support FW update"
const char* StatusLine(FirmwareStatus status);
// The status words without the "Status: " prefix.
const char* StatusWords(FirmwareStatus status);

}  // namespace qvb
