#include "cli/run_log.h"

#include <cstdio>

#include "device/host_description.h"
#include "device/test_device.h"

#ifndef QVB_VERSION
#define QVB_VERSION "0.0.0"
#endif

namespace qvb::cli {

RunLog::RunLog(std::unique_ptr<std::ostream> file, std::ostream* steps)
    : file_(std::move(file)), requests_(ActiveScsiHost(), file_.get(), steps) {}

void RunLog::Start(int argc, const char* const* argv) {
  std::string arguments;
  for (int i = 1; i < argc; ++i) arguments += std::string(" ") + Printable(argv[i]);
  requests_.Note(std::string("=== qvb886-fwupdate ") + QVB_VERSION + " (" +
                 (CarriesTestImages() ? "test build" : "release build") + ") on " +
                 Printable(HostDescription()));
  requests_.Note("arguments:" + arguments);
  requests_.Install();
}

std::unique_ptr<std::ostream> OpenLogFile(const std::string& file) {
  auto stream = std::make_unique<std::ofstream>(file, std::ios::app | std::ios::binary);
  if (!*stream) return nullptr;
  return stream;
}

void LogDisks(RunLog* log, const std::vector<DiskReport>& disks) {
  if (!log) return;
  log->Step("refresh: " + std::to_string(disks.size()) + " disk(s) behind a supported bridge");
  for (const auto& disk : disks) {
    const char* model = ModelText(disk.disk.model_code);
    log->Step("identified " + Printable(disk.disk.path) + ": " + IdentificationText(disk.disk) +
              ", model code " + std::to_string(disk.disk.model_code) + " (" +
              (model ? model : "not recognised") + ")" +
              (disk.disk.listed() ? "" : ", not listed"));
    if (disk.firmware_asked) LogStatus(log, disk);
  }
}

void LogStatus(RunLog* log, const DiskReport& device) {
  if (!log) return;
  const DeviceStatus& status = device.status;
  std::string text = "status " + Printable(device.disk.path) + ": model code " +
                     std::to_string(status.model_code) + ", ";
  if (status.outcome == StatusRead::Read) {
    text += "firmware " + DottedVersion(status.version) + ", " + StatusWords(status.status);
  } else {
    text += std::string("not read (") + StatusReadError(status.outcome) + ")";
  }
  log->Step(text);
}

void LogOutcome(RunLog* log, const char* command, const std::string& outcome, int exit_code) {
  if (!log) return;
  log->Step(std::string("outcome of ") + command + ": " + outcome + ", exit code " +
            std::to_string(exit_code));
}

void LoggedObserver::OnProgress(UpdatePhase phase, int attempt, uint32_t done, uint32_t total) {
  inner_.OnProgress(phase, attempt, done, total);
  if (!log_) return;
  char text[96];
  std::snprintf(text, sizeof text, "attempt %d %s piece %u/%u at offset 0x%06X done", attempt,
                phase == UpdatePhase::Write ? "write" : "read-back", done, total,
                (done - 1) * kPieceSize);
  log_->Step(text);
}

void LoggedObserver::OnImageDamaged() {
  inner_.OnImageDamaged();
  if (log_) log_->Step("the carried image does not match its recorded SHA-256: nothing sent");
}

void LoggedObserver::OnAttempt(int attempt) {
  inner_.OnAttempt(attempt);
  EndAttempt();
  attempt_ = attempt;
  attempt_open_ = true;
  compared_ = false;
  if (!log_) return;
  log_->requests().ForgetFailure();
  log_->Step("attempt " + std::to_string(attempt) + " of " + std::to_string(kUpdateAttempts) +
             " begins");
}

void LoggedObserver::OnCompared(int attempt, bool same) {
  inner_.OnCompared(attempt, same);
  compared_ = true;
  if (log_)
    log_->Step("attempt " + std::to_string(attempt) + " compare: " +
               (same ? "the read-back equals the image" : "the read-back differs from the image"));
}

void LoggedObserver::EndAttempt() {
  if (!attempt_open_) return;
  attempt_open_ = false;
  if (!log_ || compared_) return;
  const auto& failure = log_->requests().first_failure();
  std::string text = "attempt " + std::to_string(attempt_) + " failed";
  if (failure) {
    if (failure->buffer_command)
      text += " at piece " + std::to_string(failure->offset / kPieceSize + 1);
    text += ": " + failure->description + " (to replay: " + failure->fault + ")";
  } else {
    text += " without a failed request (the bridge's descriptor was not the form expected)";
  }
  log_->Step(text);
}

void LoggedObserver::Finish(bool) {
  EndAttempt();
}

}  // namespace qvb::cli
