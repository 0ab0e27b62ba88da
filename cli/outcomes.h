// How each command ends, in one table: the word scripts read (the JSON "outcome", also the log's),
// the exit code, and the window screen whose lines the command shows for it. The words and the
// codes are the command line's interface (the JSON Schema lists them); a new outcome is one
// enumerator and one row.
#pragma once

#include <optional>

#include "cli/exit_codes.h"
#include "firmware/screen.h"

namespace qvb::cli {

enum class Verdict {
  Ok,                 // list
  Recorded,           // record
  NoDevice,           // nothing found (or not the disk --device names)
  NoPermission,       // a disk is there but the system refuses the commands
  SeveralDevices,     // several disks and no --device
  UpdateRequired,     // status: 133.1.0.0 to 133.1.0.5
  UpToDate,           // 133.1.0.6
  NotSupported,       // any other version
  NotQvb886,          // another bridge model
  Unreadable,         // the version could not be read
  PowerCyclePending,  // written by an update, not yet powered off and on
  TestBuildRefused,   // a test build and a device that is not a test device
  DryRun,             // update --dry-run: the update would run
  DryRunFailed,       // update --dry-run: it would stop before its first write
  NotConfirmed,       // update: no yes
  Updated,            // written and verified
  Failed,             // the update was tried and failed
  NotTaken,           // after the power cycle the old version still runs
  NotWritten,         // record: the file could not be written
  UsageError,         // a bad command line or an unreadable scenario; stays last
};

struct VerdictRow {
  Verdict verdict;
  const char* word;
  ExitCode exit_code;
  // The screen whose lines go with the outcome; none where they are those of the step the
  // command stopped at (or there are none).
  std::optional<Outcome> screen;
};

const VerdictRow& RowOf(Verdict verdict);
// Every row, in the order of Verdict.
const VerdictRow* VerdictRows();
int VerdictRowCount();

inline const char* WordOf(Verdict verdict) {
  return RowOf(verdict).word;
}
inline ExitCode ExitCodeOf(Verdict verdict) {
  return RowOf(verdict).exit_code;
}

// The status check's verdict when the version was read: the row of the window's screen for the
// status (update_required, up_to_date or not_supported).
Verdict VerdictOfStatus(FirmwareStatus status);

}  // namespace qvb::cli
