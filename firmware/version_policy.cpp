#include "firmware/version_policy.h"

#include <cstdio>

namespace qvb {

FirmwareStatus ClassifyVersion(const FirmwareVersion& v) {
  if (v.major == 133 && v.minor == 1 && v.patch == 0 && v.build <= 5)
    return FirmwareStatus::UpdateRequired;
  if (v.major == 133 && v.minor == 1 && v.patch == 0 && v.build == 6)
    return FirmwareStatus::UpToDate;
  return FirmwareStatus::NotSupported;
}

std::string VersionText(const FirmwareVersion& v) {
  char text[80];
  std::snprintf(text, sizeof text, "Firmware version: %.2d.%.2d.%.2d.%.2d", v.major, v.minor,
                v.patch, v.build);
  return text;
}

const char* StatusLine(FirmwareStatus status) {
  switch (status) {
    case FirmwareStatus::UpdateRequired:
      return "Status: Update required";
    case FirmwareStatus::UpToDate:
      return "Status: Up to date";
    case FirmwareStatus::NotSupported:
      break;
  }
  return "Status: Not support FW update";
}

const char* StatusWords(FirmwareStatus status) {
  return StatusLine(status) + 8;
}

}  // namespace qvb
