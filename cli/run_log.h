// --log FILE and --verbose: the requests and the steps of one run, for a problem report.
#pragma once

#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/report.h"
#include "device/request_log.h"
#include "firmware/update.h"

namespace qvb::cli {

class RunLog {
 public:
  // `file` may be null (only --verbose); `steps` may be null (only --log).
  RunLog(std::unique_ptr<std::ostream> file, std::ostream* steps);
  // Puts the request log over the active SCSI host, after the run's header.
  void Start(int argc, const char* const* argv);

  void Step(const std::string& text) { requests_.Step(text); }
  RequestLog& requests() { return requests_; }

 private:
  std::unique_ptr<std::ostream> file_;
  RequestLog requests_;
};

// Opens FILE for appending; null when it cannot be written.
std::unique_ptr<std::ostream> OpenLogFile(const std::string& file);

// The step lines of the commands. Each does nothing when `log` is null.
void LogDisks(RunLog* log, const std::vector<DiskReport>& disks);
void LogStatus(RunLog* log, const DiskReport& device);
void LogOutcome(RunLog* log, const char* command, const std::string& outcome, int exit_code);

// Passes everything on to `inner` and logs each attempt, piece and compare; a failed attempt
// names the request it failed at.
class LoggedObserver : public UpdateObserver {
 public:
  LoggedObserver(UpdateObserver& inner, RunLog* log) : inner_(inner), log_(log) {}
  void ProcessMessages() override { inner_.ProcessMessages(); }
  // Forwarded first of all: the inner view holds the signals from the first write on.
  void OnWritesBegin() override { inner_.OnWritesBegin(); }
  void OnProgress(UpdatePhase phase, int attempt, uint32_t done, uint32_t total) override;
  void OnImageDamaged() override;
  void OnAttempt(int attempt) override;
  void OnCompared(int attempt, bool same) override;
  // Closes the last attempt once the procedure has returned.
  void Finish(bool updated);

 private:
  void EndAttempt();

  UpdateObserver& inner_;
  RunLog* log_;
  int attempt_ = 0;
  bool attempt_open_ = false;
  bool compared_ = false;
};

}  // namespace qvb::cli
