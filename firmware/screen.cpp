#include "firmware/screen.h"

#include <cstdio>

namespace qvb {
namespace {

constexpr ButtonState kHidden{false, false};
constexpr ButtonState kHiddenEnabled{false, true};
constexpr ButtonState kShownEnabled{true, true};
constexpr ButtonState kShownDisabled{true, false};

// The lines of the outcome of several devices; the warning box repeats them.
constexpr const char* kSeveralLine2 = "Multiple USB drives are attached.";
constexpr const char* kSeveralLine3 = "Please disconnect all devices.";
constexpr const char* kSeveralLine4 = "except the one that needs to be updated.";

}  // namespace

Screen ScreenFor(Outcome outcome, const FirmwareVersion& version) {
  Screen screen;
  screen.outcome = outcome;
  // Outside the Update command Exit is never disabled; the refresh hides it.
  screen.exit = kHiddenEnabled;
  ScreenLines& lines = screen.lines;
  switch (outcome) {
    case Outcome::NoDevice:
      lines[2] = "No compatible USB device were found.";
      lines[3] = "Please plug a compatible USB device.";
      screen.update = kHidden;
      break;
    case Outcome::SeveralDevices:
      lines[1] = kSeveralLine2;
      lines[2] = kSeveralLine3;
      lines[3] = kSeveralLine4;
      screen.update = kHidden;
      break;
    case Outcome::Blank:
      screen.update = kHidden;
      screen.update_visibility_kept = true;
      break;
    case Outcome::UpdateRequired:
      lines[2] = VersionText(version);
      lines[3] = StatusLine(FirmwareStatus::UpdateRequired);
      screen.update = kShownEnabled;
      break;
    case Outcome::UpToDate:
      lines[2] = VersionText(version);
      lines[3] = StatusLine(FirmwareStatus::UpToDate);
      screen.update = kHidden;
      screen.exit = kShownEnabled;
      break;
    case Outcome::NotSupported:
      lines[2] = VersionText(version);
      lines[3] = StatusLine(FirmwareStatus::NotSupported);
      screen.update = kHidden;
      break;
    case Outcome::Updating:
      lines[1] = "DO NOT disconnect the device during the FW update.";
      lines[3] = "Updating....";
      screen.update = kShownDisabled;  // only the offer of an update lets it be pressed
      screen.exit = kHidden;
      break;
    case Outcome::Updated:
    case Outcome::PowerCyclePending:
      lines[1] = "Please power off/on your USB device";
      lines[3] = "Successfully updated.";
      screen.update = kHidden;
      screen.exit = kShownEnabled;
      break;
    case Outcome::UpdateFailed:
      // What the Update command showed while it ran stays, but for lines 2 and 3.
      lines = ScreenFor(Outcome::Updating).lines;
      lines[1] = "";
      lines[2] = "Update Fail!";
      screen.update = kShownDisabled;
      break;
  }
  return screen;
}

Outcome StatusOutcome(FirmwareStatus status) {
  switch (status) {
    case FirmwareStatus::UpdateRequired:
      return Outcome::UpdateRequired;
    case FirmwareStatus::UpToDate:
      return Outcome::UpToDate;
    case FirmwareStatus::NotSupported:
      break;
  }
  return Outcome::NotSupported;
}

Screen StatusScreen(const DeviceStatus& status) {
  if (status.outcome != StatusRead::Read) return ScreenFor(Outcome::Blank);
  return ScreenFor(StatusOutcome(status.status), status.version);
}

std::string VersionText(const FirmwareVersion& v) {
  char text[80];
  std::snprintf(text, sizeof text, "Firmware version: %.2d.%.2d.%.2d.%.2d", v.major, v.minor,
                v.patch, v.build);
  return text;
}

std::string StatusLine(FirmwareStatus status) {
  return std::string("Status: ") + StatusWords(status);
}

const char* StatusWords(FirmwareStatus status) {
  switch (status) {
    case FirmwareStatus::UpdateRequired:
      return "Update required";
    case FirmwareStatus::UpToDate:
      return "Up to date";
    case FirmwareStatus::NotSupported:
      break;
  }
  return "Not support FW update";
}

std::string ListLine(const ScannedDisk& disk) {
  return BusPrefix(disk.bus) + disk.name_text;
}

const char* NoDeviceListLine() {
  return "No available device!!!";
}

std::string SeveralDevicesWarning() {
  const std::string second(kSeveralLine3);
  return std::string(kSeveralLine2) + "\n" + second.substr(0, second.size() - 1) + "\n" +
         kSeveralLine4;
}

std::string TableFullWarning(int entries) {
  char text[64];
  std::snprintf(text, sizeof text, "The tool only can show %d disks.", entries);
  return text;
}

const char* TestBuildRefusal() {
  return "This is a test build: it carries generated test images, not the QVB886 firmware, and "
         "updates only test devices (the virtual bridge and the test rigs' gadgets). Nothing was "
         "written to this device.\n"
         "A release build, made with the vendor's images (QVB_FIRMWARE_DIR and their "
         "SHA256SUMS), updates a real QVB886.";
}

}  // namespace qvb
