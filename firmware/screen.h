// What the main window shows at the end of each of its outcomes: the five description lines and
// the states of the Update and Exit buttons. The window sets them step by step in its own order;
// the command line prints the same lines. Every text the window shows is written here, once.
#pragma once

#include <array>
#include <string>

#include "firmware/device_status.h"

namespace qvb {

enum class Outcome {
  NoDevice,        // the enumeration returned no disk
  SeveralDevices,  // two or more disks listed
  Blank,           // the refresh's empty lines, which stay when the status check shows no version
  UpdateRequired,  // 133.1.0.0 to 133.1.0.5
  UpToDate,        // 133.1.0.6
  NotSupported,    // any other version
  Updating,        // the Update command runs
  Updated,         // written and verified
  UpdateFailed,    // the Update command's procedure failed
  PowerCyclePending,  // updated by this run, not yet powered off and on
};

// pnl_Descript_1 to pnl_Descript_5.
using ScreenLines = std::array<std::string, 5>;

struct ButtonState {
  bool visible = false;
  bool enabled = false;
};

struct Screen {
  Outcome outcome = Outcome::Blank;
  ScreenLines lines;
  ButtonState update;  // btn_upd
  ButtonState exit;    // btn_Exit
  // Blank only: the refresh disables Update but leaves it shown or hidden as it was.
  bool update_visibility_kept = false;

  // The line that says where things stand: the status line, "Updating....", "Successfully
  // updated." or "Update Fail!".
  const std::string& result() const { return lines[outcome == Outcome::UpdateFailed ? 2 : 3]; }
  // The line that says what to do or what to beware of ("Please power off/on your USB device").
  const std::string& advice() const { return lines[1]; }
};

// The outcomes whose lines do not depend on the device. `version` fills the version line of
// UpdateRequired, UpToDate and NotSupported.
Screen ScreenFor(Outcome outcome, const FirmwareVersion& version = {});
// The screen of a version's status: UpdateRequired, UpToDate or NotSupported.
Outcome StatusOutcome(FirmwareStatus status);
// The status check's outcome for what was read: StatusOutcome with the version line, or Blank
// when no version was read.
Screen StatusScreen(const DeviceStatus& status);

// "Firmware version: %.2d.%.2d.%.2d.%.2d"
std::string VersionText(const FirmwareVersion& version);
// "Status: Update required", "Status: Up to date", "Status: Not support FW update"
std::string StatusLine(FirmwareStatus status);
// The status words without the "Status: " prefix.
const char* StatusWords(FirmwareStatus status);

// The hidden list: a listed disk's line is its bus prefix and the scan's name text.
std::string ListLine(const ScannedDisk& disk);
// The list's one line when no disk was found.
const char* NoDeviceListLine();
// The warning box of the several-devices outcome: its three lines, the second without its
// full stop.
std::string SeveralDevicesWarning();
// The warning box when the device table is full ("The tool only can show %d disks.").
std::string TableFullWarning(int entries);
// Why a test build sends nothing to a device that is not a test device: the window's warning
// box when Update is pressed, and the command line's refusal.
const char* TestBuildRefusal();

}  // namespace qvb
