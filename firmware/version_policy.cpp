#include "firmware/version_policy.h"

namespace qvb {

FirmwareStatus ClassifyVersion(const FirmwareVersion& v) {
  if (v.major == 133 && v.minor == 1 && v.patch == 0 && v.build <= 5)
    return FirmwareStatus::UpdateRequired;
  if (v.major == 133 && v.minor == 1 && v.patch == 0 && v.build == 6)
    return FirmwareStatus::UpToDate;
  return FirmwareStatus::NotSupported;
}

}  // namespace qvb
