// --log FILE and --verbose: the requests and the steps of one run, for a problem report.
#pragma once

#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/report.h"
#include "device/request_log.h"
#include "firmware/run_steps.h"
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

// The shared step-logging observer, on a run's log (null: it only passes things on).
class LoggedObserver : public StepLoggingObserver {
 public:
  LoggedObserver(UpdateObserver& inner, RunLog* log)
      : StepLoggingObserver(inner, log ? &log->requests() : nullptr) {}
};

}  // namespace qvb::cli
