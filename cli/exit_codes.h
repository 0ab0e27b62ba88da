// The command line's exit codes. They are part of its interface: scripts test them.
#pragma once

namespace qvb::cli {

enum ExitCode : int {
  kExitOk = 0,              // done: update wrote the firmware, status found the update required
  kExitUpdateFailed = 1,    // the update was tried and failed, or was not confirmed
  kExitUsage = 2,           // bad command line, unreadable scenario file
  kExitNoDevice = 3,        // no disk found, or none that the bridge identification knows
  kExitNotUpdatable = 4,    // not a QVB886, version not read, or outside 133.1.0.0-133.1.0.5
  kExitSeveralDevices = 5,  // several disks attached and no --device to choose one
  kExitNoPermission = 6,    // a disk is there but the system refuses the commands
  kExitUpToDate = 7,        // nothing to do: the firmware is already up to date
  kExitPowerCycle = 8,      // written by this process; waits to be powered off and on
  kExitTestBuild = 9,       // a test build refuses a device that is not a test device
  kExitOutputFailed = 10,   // standard output could not be written
  kExitNotTaken = 11,       // after the power cycle the old version still runs: the write did not take
};

}  // namespace qvb::cli
