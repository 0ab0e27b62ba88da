// Which running versions this program updates; shared by the window and the command line.
#pragma once

#include <cstdint>

namespace qvb {

struct FirmwareVersion {
  uint8_t major, minor, patch, build;  // information block bytes 12 to 15
};

enum class FirmwareStatus { UpdateRequired, UpToDate, NotSupported };

// 133.1.0.0 to 133.1.0.5 need the carried 133.1.0.6; anything else is refused.
FirmwareStatus ClassifyVersion(const FirmwareVersion& version);

}  // namespace qvb
