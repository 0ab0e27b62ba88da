#include "cli/commands.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/access_monitor.h"
#include "cli/dry_run.h"
#include "cli/exit_codes.h"
#include "cli/interrupt_guard.h"
#include "cli/outcomes.h"
#include "cli/platform.h"
#include "cli/power_cycle_wait.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/run_log.h"
#include "device/identification.h"
#include "device/path_identity.h"
#include "device/test_device.h"
#include "firmware/power_cycle.h"
#include "firmware/screen.h"
#include "firmware/update.h"
#include "firmware/update_plan.h"

namespace qvb::cli {
namespace {

// What the enumeration, the identification and the access monitor found.
struct Survey {
  DiskScan scan;
  std::vector<DiskReport> disks;
  std::vector<RefusedDisk> refused;  // for lack of permission, or busy
};

Survey TakeSurvey(const Session& session, bool read_firmware) {
  Survey survey;
  survey.scan = ScanBridgeDisks();
  if (session.access) survey.refused = session.access->refused();
  // An updated bridge that has gone waits no more; one that could not be looked at may be there.
  session.power_cycles->Observe(
      survey.scan, session.access ? session.access->RefusedPaths() : std::vector<std::string>{});
  for (const auto& disk : survey.scan.disks) {
    survey.disks.push_back(
        DescribeDisk(disk, read_firmware && disk.model_code == kModelCodeQvb886));
    DiskReport& report = survey.disks.back();
    report.waiting =
        report.firmware_asked && session.power_cycles->Waiting(disk.path, report.status);
  }
  LogDisks(session.log, survey.disks);
  return survey;
}

// The privilege note, and the disks refused for lack of permission or held by another program.
void ReportAccess(const Session& session, const Survey& survey) {
  std::ostream& err = session.console.err;
  bool busy = false;
  for (const auto& disk : survey.refused) {
    busy = busy || disk.reason == Refusal::Busy;
    err << (disk.reason == Refusal::Busy ? "Busy: " : "Permission denied: ") << Printable(disk.path)
        << "\n";
  }
  const bool denied = AnyDenied(survey.refused);
  if (!session.privileged || denied) err << "Note: " << PrivilegeNote() << "\n";
  if (busy)
    err << "Note: another program holds the disk marked busy (a disk or partition tool, a "
           "backup, a virtual machine); close it and run this again.\n";
}

// Why a command failed is said on standard error as well, so that a script that throws standard
// output away or keeps only standard error still learns it; once when both are the terminal.
void AlsoOnError(const Session& session, const std::string& text) {
  const Console& console = session.console;
  const std::ostream& human = session.human();
  if (&human == &console.err) return;
  if (&human == &console.out && console.out_terminal && console.err_terminal) return;
  console.err << text;
}

void SayFailure(const Session& session, const std::string& text) {
  session.human() << text;
  AlsoOnError(session, text);
}

// The window's non-empty lines, as WriteLinesText writes them.
std::string LinesText(const ScreenLines& lines) {
  std::ostringstream text;
  WriteLinesText(text, lines);
  return text.str();
}

struct Document {
  const char* command = "";
  Verdict verdict = Verdict::Ok;
  const Survey* survey = nullptr;
  // status and update
  bool device_fields = false;
  const DiskReport* device = nullptr;
  ScreenLines lines;
  std::optional<WaitingBridge> record;  // the device's record as waiting for its power cycle
  // update
  bool update_fields = false;
  int attempts = 0;
  int interrupts = 0;
  const UpdatePlan* dry_run = nullptr;  // update --dry-run
  std::optional<bool> confirmed;        // the new firmware seen running; none when not waited for
};

nlohmann::ordered_json RecordJson(const Session& session, const std::optional<WaitingBridge>& r) {
  if (!r) return nullptr;
  const WaitingRecordStore* store = session.power_cycles->store();
  nlohmann::ordered_json json;
  json["file"] = store ? nlohmann::ordered_json(store->file()) : nullptr;
  json["path"] = ByteText(r->path);
  json["serial"] = r->serial.empty() ? nlohmann::ordered_json(nullptr) : ByteText(r->serial);
  json["model_code"] = r->model_code;
  json["previous_version"] = DottedVersion(r->previous);
  json["written_version"] = DottedVersion(r->written);
  json["recorded_at"] = r->recorded_at;
  return json;
}

int Emit(const Session& session, const Document& document) {
  const VerdictRow& row = RowOf(document.verdict);
  LogOutcome(session.log, document.command, row.word, row.exit_code);
  if (!session.options.json) return row.exit_code;
  nlohmann::ordered_json json;
  json["command"] = document.command;
  json["outcome"] = row.word;
  json["exit_code"] = row.exit_code;
  json["disks"] = DisksJson(document.survey->disks);
  json["denied"] = DeniedJson(document.survey->refused);
  if (document.device_fields) {
    json["device"] = document.device ? DiskJson(*document.device) : nullptr;
    json["lines"] = LinesJson(document.lines);
    json["waiting_record"] = RecordJson(session, document.record);
  }
  if (document.update_fields) {
    json["attempts"] = document.attempts;
    json["interrupts_refused"] = document.interrupts;
    json["confirmed"] = document.confirmed ? nlohmann::ordered_json(*document.confirmed) : nullptr;
  }
  if (document.dry_run) json["dry_run"] = DryRunJson(*document.dry_run);
  session.console.out << JsonDocumentText(json);
  session.console.out.flush();
  return row.exit_code;
}

// The device that status and update work on, chosen as the window chooses unless --device says.
struct Choice {
  const ScannedDisk* disk = nullptr;
  bool none_listed = false;  // the window's case of disks that all failed to identify
  // When no disk was chosen:
  Verdict verdict = Verdict::Ok;
  ScreenLines lines;
};

Choice Choose(const Session& session, const Survey& survey, bool for_update) {
  Choice choice;
  std::ostream& out = session.human();
  const std::string& wanted = session.options.device;
  const DiskScan& scan = survey.scan;

  if (!wanted.empty()) {
    for (const auto& disk : scan.disks)
      if (SamePath(disk.path, wanted)) choice.disk = &disk;
    if (choice.disk) return choice;
    const std::optional<Refusal> refusal =
        session.access ? session.access->RefusalOf(wanted) : std::nullopt;
    const bool denied = refusal == Refusal::Permission;
    // A busy disk is not there for this program: more rights would not change that.
    choice.verdict = denied ? Verdict::NoPermission : Verdict::NoDevice;
    SayFailure(session, "No disk " + Printable(wanted) +
                            (denied ? " could be examined: permission denied.\n"
                             : refusal == Refusal::Busy
                                 ? " could be examined: another program holds it (busy).\n"
                                 : " was found behind a supported bridge.\n"));
    return choice;
  }

  if (scan.disk_count == 0) {
    // The window's screen for no disk, whether or not some were refused.
    choice.lines = ScreenFor(*RowOf(Verdict::NoDevice).screen).lines;
    SayFailure(session, LinesText(choice.lines));
    choice.verdict = AnyDenied(survey.refused) ? Verdict::NoPermission : Verdict::NoDevice;
    return choice;
  }
  if (scan.ListedCount() >= 2) {
    choice.verdict = Verdict::SeveralDevices;
    choice.lines = ScreenFor(*RowOf(choice.verdict).screen).lines;
    SayFailure(session, LinesText(choice.lines));
    out << "Attached:\n";
    for (const auto& disk : scan.disks)
      if (disk.listed())
        out << "  " << Printable(disk.path) << "  " << IdentificationText(disk) << "\n";
    SayFailure(session, "Or choose one with --device PATH.\n");
    return choice;
  }
  if (for_update && AnyDenied(survey.refused)) {
    // The window, with the rights it asks for, might have seen several disks here. A busy disk
    // it would not see either.
    SayFailure(session,
               "Some disks could not be examined, so the disk to update is not certain; choose "
               "it with --device PATH or run with the rights needed.\n");
    choice.verdict = Verdict::NoPermission;
    return choice;
  }
  choice.none_listed = scan.ListedCount() == 0;
  choice.disk = scan.StatusTarget();
  return choice;
}

// The chosen device as the status check found it.
struct Examined {
  DiskReport device;
  // Updated by this process and not yet powered off and on: it still reports its old version.
  bool power_cycle_pending = false;
  std::optional<WaitingBridge> record;
};

Verdict Judge(const Session& session, const Examined& examined, bool none_listed) {
  const DiskReport& device = examined.device;
  const DeviceStatus& status = device.status;
  if (examined.power_cycle_pending) return Verdict::PowerCyclePending;
  if (status.outcome == StatusRead::Read) return VerdictOfStatus(status.status);
  if (session.access && session.access->WasDenied(device.disk.path)) return Verdict::NoPermission;
  if (none_listed) return Verdict::NoDevice;
  if (status.outcome == StatusRead::NotQvb886) return Verdict::NotQvb886;
  return Verdict::Unreadable;
}

// The window's lines for the chosen device.
ScreenLines LinesOf(const Examined& examined) {
  return examined.power_cycle_pending ? ScreenFor(Outcome::PowerCyclePending).lines
                                      : StatusScreen(examined.device.status).lines;
}

// The chosen device's status, as the window's status check finds it; text written.
Examined Examine(const Session& session, const ScannedDisk& disk, bool none_listed) {
  Examined examined;
  DiskReport& device = examined.device;
  device = DescribeDisk(disk, true);
  if (device.firmware_asked)
    device.disk.model_code = device.status.model_code;  // the status check identifies anew
  else
    device.status.model_code = disk.model_code;  // another model: nothing more was asked
  std::ostream& out = session.human();
  if (none_listed && device.status.model_code == 0) {
    SayFailure(session, "No disk with a recognised bridge was found.\n");
    return examined;
  }
  examined.power_cycle_pending = session.power_cycles->Waiting(device.disk.path, device.status);
  LogStatus(session.log, device);
  if (examined.power_cycle_pending) examined.record = session.power_cycles->Find(device.disk.path);
  WriteDeviceHeader(out, device);
  WriteLinesText(out, LinesOf(examined));
  if (examined.power_cycle_pending) {
    out << "The firmware was written and verified; the device runs it once it has been powered "
           "off and on.\n";
    if (examined.record && examined.record->recorded_at > 0)
      out << "(Recorded as waiting for its power cycle: it ran "
          << DottedVersion(examined.record->previous)
          << " before the write. The record ends when the device is seen missing, reports "
             "another version, or the computer is started again.)\n";
  } else if (device.status.outcome == StatusRead::NotQvb886) {
    const char* model = ModelText(device.status.model_code);
    SayFailure(session, std::string("The bridge is ") + (model ? model : "not recognised") +
                            " (model code " + std::to_string(device.status.model_code) +
                            "): this program updates only the QVB886.\n");
  } else if (device.status.outcome != StatusRead::Read) {
    SayFailure(session, std::string("The firmware version could not be read: ") +
                            StatusReadError(device.status.outcome) + ".\n");
  } else if (device.status.status == FirmwareStatus::NotSupported) {
    AlsoOnError(session, StatusLine(device.status.status) + "\n");
  }
  return examined;
}

// After the write: the power cycle, and the version the device then runs.
void AwaitPowerCycle(const Session& session, const DiskReport& device, Document& document) {
  std::ostream& out = session.human();
  out << "Now power the device off and on (unplug it and plug it back in, or switch it off and "
         "on). Waiting for it to come back, "
      << kPowerCycleWaitMs / 60000
      << " minutes at most; Ctrl-C ends the wait (the firmware is written either way).\n";
  out.flush();
  PowerCycleWaitResult waited;
  {
    InterruptGuard guard;
    PowerCycleWaitSetup setup;
    setup.path = device.disk.path;
    setup.watch = session.power_cycles;
    setup.source = session.device_changes;
    setup.interrupted = [&guard] { return guard.Poll() > 0; };
    setup.out = &out;
    setup.terminal = session.human_terminal();
    waited = WaitForPowerCycle(setup);
  }
  document.confirmed = waited.end == WaitEnd::Confirmed;
  const std::string old_version = device.status.outcome == StatusRead::Read
                                      ? DottedVersion(device.status.version)
                                      : std::string("the old version");
  switch (waited.end) {
    case WaitEnd::Confirmed:
      document.lines = StatusScreen(waited.status).lines;
      WriteLinesText(out, document.lines);
      out << "Confirmed: the device runs the new firmware " << DottedVersion(kWrittenVersion)
          << ".\n";
      document.record.reset();
      return;
    case WaitEnd::NotTaken:
      document.lines = StatusScreen(waited.status).lines;
      WriteLinesText(out, document.lines);
      out << "The device still runs " << old_version
          << " after its power cycle: the update did not take. Run the update again; if it "
             "does not take again, this bridge cannot be updated here.\n";
      document.verdict = Verdict::NotTaken;
      document.record.reset();
      return;
    case WaitEnd::OtherDevice:
      out << "Another device answers at " << Printable(device.disk.path)
          << " now: the new firmware of the updated one could not be confirmed.\n";
      document.record.reset();
      break;
    case WaitEnd::TimedOut:
      out << "No power cycle was seen within " << kPowerCycleWaitMs / 60000 << " minutes.\n";
      break;
    case WaitEnd::Interrupted:
      out << "Stopped waiting.\n";
      break;
  }
  if (waited.end != WaitEnd::OtherDevice)
    out << "The firmware is written and verified; the device runs it once it has been powered "
           "off and on (status tells which version runs).\n";
  document.verdict = Verdict::PowerCyclePending;
}

bool Confirm(const Session& session, const DiskReport& device) {
  std::ostream& out = session.human();
  out << "Update the firmware of " << Printable(device.disk.path) << " to 133.1.0.6? [y/N] ";
  out.flush();
  std::string answer;
  if (!std::getline(session.console.in, answer)) {
    out << "\n";
    return false;
  }
  answer = LowerCase(answer);
  while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
  return answer == "y" || answer == "yes";
}

}  // namespace

int RunList(Session& session) {
  Survey survey = TakeSurvey(session, true);
  ReportAccess(session, survey);
  std::ostream& out = session.human();

  Document document;
  document.command = "list";
  document.survey = &survey;
  if (survey.scan.disk_count == 0) {
    SayFailure(session, LinesText(ScreenFor(*RowOf(Verdict::NoDevice).screen).lines));
    document.verdict = AnyDenied(survey.refused) ? Verdict::NoPermission : Verdict::NoDevice;
    return Emit(session, document);
  }
  for (std::size_t i = 0; i < survey.disks.size(); ++i) {
    if (i > 0) out << "\n";
    WriteDiskText(out, survey.disks[i]);
  }
  document.verdict = Verdict::Ok;
  return Emit(session, document);
}

namespace {

// No device to work on: the document carries the choice's verdict and lines.
int EmitRefusal(Session& session, Document& document, const Choice& choice) {
  document.verdict = choice.verdict;
  document.lines = choice.lines;
  return Emit(session, document);
}

}  // namespace

int RunStatus(Session& session) {
  Survey survey = TakeSurvey(session, false);
  ReportAccess(session, survey);
  Document document;
  document.command = "status";
  document.survey = &survey;
  document.device_fields = true;

  const Choice choice = Choose(session, survey, false);
  if (!choice.disk) return EmitRefusal(session, document, choice);
  const Examined examined = Examine(session, *choice.disk, choice.none_listed);
  document.device = &examined.device;
  document.lines = LinesOf(examined);
  document.record = examined.record;
  document.verdict = Judge(session, examined, choice.none_listed);
  return Emit(session, document);
}

int RunUpdate(Session& session) {
  Survey survey = TakeSurvey(session, false);
  ReportAccess(session, survey);
  std::ostream& out = session.human();
  Document document;
  document.command = "update";
  document.survey = &survey;
  document.device_fields = true;
  document.update_fields = true;

  const Choice choice = Choose(session, survey, true);
  if (!choice.disk) return EmitRefusal(session, document, choice);
  const Examined examined = Examine(session, *choice.disk, choice.none_listed);
  const DiskReport& device = examined.device;
  document.device = &device;
  document.lines = LinesOf(examined);
  document.record = examined.record;
  document.verdict = Judge(session, examined, choice.none_listed);
  if (document.verdict != Verdict::UpdateRequired) {
    // Only a QVB886 that needs the update is written; nothing overrides this.
    if (examined.power_cycle_pending) {
      out << "Not updated: power the device off and on first.\n";
    } else if (device.status.outcome == StatusRead::Read) {
      if (device.status.status == FirmwareStatus::UpToDate)
        out << "Nothing to do: the firmware is up to date.\n";
      else
        SayFailure(session, "Not updated: only the versions 133.1.0.0 to 133.1.0.5 are updated.\n");
    }
    return Emit(session, document);
  }

  if (!MayWriteFirmware(device.disk.path.c_str())) {
    // Test images written into a real bridge brick it; there is nothing to confirm.
    SayFailure(session, std::string(TestBuildRefusal()) + "\n");
    document.verdict = Verdict::TestBuildRefused;
    return Emit(session, document);
  }

  if (session.options.dry_run) {
    // Reads only: no WRITE BUFFER, no vendor write, so nothing to confirm.
    const UpdatePlan plan = PlanUpdate(device.disk.path.c_str());
    WriteDryRunText(out, device.disk.path, plan);
    document.dry_run = &plan;
    document.verdict =
        plan.stop == UpdatePlan::Stop::None ? Verdict::DryRun : Verdict::DryRunFailed;
    return Emit(session, document);
  }

  if (!session.options.yes) {
    if (!session.console.in_terminal || !session.human_terminal()) {
      SayFailure(session,
                 "Not updated: there is no terminal to confirm on; add --yes to update.\n");
      document.verdict = Verdict::NotConfirmed;
      return Emit(session, document);
    }
    if (!Confirm(session, device)) {
      SayFailure(session, "Not updated.\n");
      document.verdict = Verdict::NotConfirmed;
      return Emit(session, document);
    }
  }

  // Nothing is written to a device when its result could not be reported.
  session.console.out.flush();
  if (session.console.out.fail()) {
    session.console.err << "qvb886-fwupdate: standard output could not be written; nothing was "
                           "written to the device.\n";
    return kExitOutputFailed;
  }

  // The window's texts while the update runs.
  document.lines = ScreenFor(Outcome::Updating).lines;
  WriteLinesText(out, document.lines);
  out.flush();
  int result = 0;
  {
    // Held from the first write on: the scan, the confirmation and the sleep inhibitor's
    // request (which may wait on a stalled bus) keep Ctrl-C working.
    InterruptGuard guard(false);
    ProgressView progress(out, session.human_terminal(), &guard);
    LoggedObserver logged(progress, session.log);
    result = UpdateFirmware(&logged, device.disk.path.c_str());
    logged.Finish(result != 0);
    progress.Finish();
    document.attempts = progress.attempts();
    document.interrupts = guard.total();
  }
  if (document.interrupts > 0)
    out << "Ctrl-C was refused " << document.interrupts
        << (document.interrupts == 1 ? " time" : " times") << " while the update ran.\n";

  if (result != 0) {
    // Until its power cycle the bridge reports its old version: it is not to be written again,
    // by this run or any other.
    std::string error;
    if (!session.power_cycles->Record(device.disk.path, device.disk.vendor + device.disk.product,
                                      device.status, &error))
      session.console.err << "Note: the record of this update could not be saved (" << error
                          << "); another run will not know that the device waits for its "
                             "power cycle.\n";
    document.record = session.power_cycles->Find(device.disk.path);
    document.verdict = Verdict::Updated;
    const Screen updated = ScreenFor(*RowOf(document.verdict).screen);
    document.lines = updated.lines;
    // The result first, then what to do.
    out << updated.result() << "\n" << updated.advice() << "\n";
    const bool wait =
        session.options.wait || (!session.options.no_wait && session.human_terminal());
    if (wait && session.device_changes) AwaitPowerCycle(session, device, document);
  } else {
    document.verdict = Verdict::Failed;
    const Screen failed = ScreenFor(*RowOf(document.verdict).screen);
    document.lines = failed.lines;
    SayFailure(session, failed.result() + "\n");
    if (session.access && session.access->WasDenied(device.disk.path))
      session.console.err << "Note: " << PrivilegeNote() << "\n";
  }
  return Emit(session, document);
}

}  // namespace qvb::cli
