#include "cli/outcomes.h"

#include <array>
#include <cstddef>

namespace qvb::cli {
namespace {

using enum Verdict;

constexpr std::array kRows{
    VerdictRow{Ok, "ok", kExitOk, std::nullopt},
    VerdictRow{Recorded, "recorded", kExitOk, std::nullopt},
    VerdictRow{NoDevice, "no_device", kExitNoDevice, Outcome::NoDevice},
    VerdictRow{NoPermission, "no_permission", kExitNoPermission, std::nullopt},
    VerdictRow{SeveralDevices, "several_devices", kExitSeveralDevices, Outcome::SeveralDevices},
    VerdictRow{UpdateRequired, "update_required", kExitOk, Outcome::UpdateRequired},
    VerdictRow{UpToDate, "up_to_date", kExitUpToDate, Outcome::UpToDate},
    VerdictRow{NotSupported, "not_supported", kExitNotUpdatable, Outcome::NotSupported},
    VerdictRow{NotQvb886, "not_qvb886", kExitNotUpdatable, Outcome::Blank},
    VerdictRow{Unreadable, "unreadable", kExitNotUpdatable, Outcome::Blank},
    VerdictRow{PowerCyclePending, "power_cycle_pending", kExitPowerCycle,
               Outcome::PowerCyclePending},
    VerdictRow{TestBuildRefused, "test_build_refused", kExitTestBuild, std::nullopt},
    VerdictRow{DryRun, "dry_run", kExitOk, std::nullopt},
    VerdictRow{DryRunFailed, "dry_run_failed", kExitUpdateFailed, std::nullopt},
    VerdictRow{NotConfirmed, "not_confirmed", kExitUpdateFailed, std::nullopt},
    VerdictRow{Updated, "updated", kExitOk, Outcome::Updated},
    VerdictRow{Failed, "failed", kExitUpdateFailed, Outcome::UpdateFailed},
    VerdictRow{NotTaken, "not_taken", kExitNotTaken, std::nullopt},
    VerdictRow{NotWritten, "not_written", kExitUsage, std::nullopt},
    VerdictRow{UsageError, "usage_error", kExitUsage, std::nullopt},
};

// Row i is Verdict i: a row missing or out of place does not compile.
constexpr bool InOrder() {
  for (std::size_t i = 0; i < kRows.size(); ++i)
    if (static_cast<std::size_t>(kRows[i].verdict) != i) return false;
  return kRows.back().verdict == UsageError;
}
static_assert(InOrder(), "the rows follow Verdict, one each");

}  // namespace

const VerdictRow& RowOf(Verdict verdict) {
  return kRows[static_cast<std::size_t>(verdict)];
}

const VerdictRow* VerdictRows() {
  return kRows.data();
}

int VerdictRowCount() {
  return static_cast<int>(kRows.size());
}

Verdict VerdictOfStatus(FirmwareStatus status) {
  // The one row that shows the status's screen.
  const Outcome screen = StatusOutcome(status);
  for (const VerdictRow& row : kRows)
    if (row.screen == screen) return row.verdict;
  return NotSupported;
}

}  // namespace qvb::cli
