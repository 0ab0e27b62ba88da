#include "cli/record.h"

#include <array>
#include <fstream>
#include <nlohmann/json.hpp>

#include "cli/access_monitor.h"
#include "cli/outcomes.h"
#include "cli/report.h"
#include "cli/run_log.h"
#include "device/bridge_commands.h"
#include "device/enumeration.h"
#include "device/guarded_scsi_host.h"
#include "device/host_description.h"
#include "device/identification.h"
#include "device/path_identity.h"
#include "device/request_log.h"
#include "device/test_device.h"
#include "virtual_bridge/recording.h"

#ifndef QVB_VERSION
#define QVB_VERSION "0.0.0"
#endif

namespace qvb::cli {
namespace {

constexpr uint32_t kRefusedWrite = 5;  // ERROR_ACCESS_DENIED: what a refused write reports

// Sits over the active host for its lifetime and copies every reply into the recording.
class Recorder {
 public:
  explicit Recorder(virt::Recording& recording) : guard_(ActiveScsiHost()), recording_(recording) {
    guard_.before_send = [this](const std::string&,
                                const ScsiRequest& request) -> std::optional<ScsiResult> {
      const std::string name = RequestName(request.cdb, request.cdb_length);
      if (request.direction == ScsiDirection::FromDevice && name != "unknown" &&
          name != "write_buffer" && name != "control")
        return std::nullopt;
      ++refused_;
      return ScsiResult::Fail(ScsiOutcome::OsError, kRefusedWrite);
    };
    guard_.after_send = [this](const std::string& path, const ScsiRequest& request,
                               const ScsiResult& result) {
      if (request.direction != ScsiDirection::FromDevice) return;
      recording_.AddReply(path, request.cdb, request.cdb_length,
                          static_cast<const uint8_t*>(request.data), request.transfer_length,
                          result.ok());
    };
    guard_.after_open = [this](const char* path, ShareMode, const ScsiResult& result) {
      if (!result.ok() && path)
        recording_.AddFailedOpen(path,
                                 std::string(result.outcome == ScsiOutcome::Permission
                                                 ? "permission denied, system error "
                                             : result.outcome == ScsiOutcome::Busy
                                                 ? "busy, held by another program, system error "
                                                 : "system error ") +
                                     std::to_string(result.os_error));
    };
    seams_ = std::make_unique<ScopedSeams>(HostSeams{.scsi = &guard_});
  }
  int refused() const { return refused_; }

 private:
  GuardedScsiHost guard_;
  virt::Recording& recording_;
  int refused_ = 0;
  std::unique_ptr<ScopedSeams> seams_;
};

}  // namespace

int RunRecord(Session& session) {
  std::ostream& out = session.human();
  const std::string& wanted = session.options.device;
  virt::Recording recording;
  std::vector<DiskReport> disks;
  int refused = 0;
  bool found = wanted.empty();
  {
    Recorder recorder(recording);
    const DiskScan scan = ScanBridgeDisks();
    for (const auto& disk : scan.disks) {
      if (!wanted.empty() && !SamePath(disk.path, wanted)) continue;
      found = true;
      recording.SetBus(disk.path, BusName(disk.bus));
      DiskReport report = DescribeDisk(disk, true);
      if (report.status.model_code == kModelCodeQvb886) {
        // What an update reads before its first write, so that a replayed update or dry run
        // meets the same bridge.
        IsTestDevice(disk.path.c_str());
        std::array<uint8_t, 4> descriptor{};
        ReadBuffer(disk.path.c_str(), kBufferModeDescriptor, 0, 0, descriptor.data(), 4);
      }
      disks.push_back(report);
    }
    refused = recorder.refused();
  }
  if (!wanted.empty()) recording.KeepOnly(wanted);
  LogDisks(session.log, disks);

  Verdict verdict = Verdict::Recorded;
  if (!found) {
    out << "No disk " << Printable(wanted) << " was found behind a supported bridge.\n";
    verdict = Verdict::NoDevice;
  } else {
    std::ofstream file(session.options.record_file, std::ios::binary | std::ios::trunc);
    file << recording.ScenarioText(
        {std::string("Recorded by qvb886-fwupdate ") + QVB_VERSION + " on " +
             Printable(HostDescription()) + ".",
         "Replay: qvb886-fwupdate --virtual THIS_FILE list (or status, update --dry-run)."});
    file.flush();
    if (!file) {
      out << "The recording could not be written to " << Printable(session.options.record_file)
          << ".\n";
      verdict = Verdict::NotWritten;
    } else {
      out << "Recorded " << recording.devices() << " device(s) to "
          << Printable(session.options.record_file) << "; nothing was written to any device.\n";
      if (disks.empty()) verdict = Verdict::NoDevice;
    }
  }
  if (refused > 0)  // cannot happen through list and status; said if it ever does
    session.console.err << "qvb886-fwupdate: " << refused << " write(s) refused while recording\n";
  const VerdictRow& row = RowOf(verdict);
  LogOutcome(session.log, "record", row.word, row.exit_code);
  if (session.options.json) {
    nlohmann::ordered_json json;
    json["command"] = "record";
    json["outcome"] = row.word;
    json["exit_code"] = row.exit_code;
    json["disks"] = DisksJson(disks);
    json["denied"] =
        DeniedJson(session.access ? session.access->refused() : std::vector<RefusedDisk>{});
    json["file"] = session.options.record_file;
    session.console.out << JsonDocumentText(json);
    session.console.out.flush();
  }
  return row.exit_code;
}

}  // namespace qvb::cli
