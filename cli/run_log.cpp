#include "cli/run_log.h"

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
  log->Step(RefreshStep(disks.size()));
  for (const auto& disk : disks) {
    log->Step(DiskStep(disk.disk));
    if (disk.firmware_asked) LogStatus(log, disk);
  }
}

void LogStatus(RunLog* log, const DiskReport& device) {
  if (!log) return;
  log->Step(StatusStep(device.disk.path, device.status));
}

void LogOutcome(RunLog* log, const char* command, const std::string& outcome, int exit_code) {
  if (!log) return;
  log->Step(std::string("outcome of ") + command + ": " + outcome + ", exit code " +
            std::to_string(exit_code));
}

}  // namespace qvb::cli
