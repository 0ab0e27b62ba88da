#include "cli/power_cycle_wait.h"

#include <algorithm>

#include "cli/access_monitor.h"
#include "device/path_identity.h"
#include "firmware/power_cycle.h"
#include "firmware/screen.h"

namespace qvb::cli {
namespace {

const ScannedDisk* FindDisk(const DiskScan& scan, const std::string& path) {
  for (const auto& disk : scan.disks)
    if (SamePath(disk.path, path)) return &disk;
  return nullptr;
}

bool SameVersion(const FirmwareVersion& a, const FirmwareVersion& b) {
  return a.major == b.major && a.minor == b.minor && a.patch == b.patch && a.build == b.build;
}

}  // namespace

PowerCycleWaitResult WaitForPowerCycle(const PowerCycleWaitSetup& setup) {
  PowerCycleWaitResult result;
  std::ostream& out = *setup.out;
  const std::optional<WaitingBridge> record = setup.watch->Find(setup.path);
  const uint64_t start = setup.source->NowMs();
  uint64_t shown_seconds = ~uint64_t{0};
  bool line_open = false;
  auto end_line = [&] {
    if (line_open) out << "\n";
    line_open = false;
  };

  for (;;) {
    if (setup.interrupted && setup.interrupted()) {
      result.end = WaitEnd::Interrupted;
      break;
    }
    const uint64_t elapsed = setup.source->NowMs() - start;
    if (elapsed >= setup.timeout_ms) {
      result.end = WaitEnd::TimedOut;
      break;
    }
    if (setup.terminal && elapsed / 1000 != shown_seconds) {
      shown_seconds = elapsed / 1000;
      out << "\rWaiting for the power cycle... " << shown_seconds << " s " << std::flush;
      line_open = true;
    }
    const uint64_t left = setup.timeout_ms - elapsed;
    setup.source->Wait(static_cast<uint32_t>(std::min<uint64_t>(left, kPowerCyclePollMs)));

    const DiskScan scan = ScanBridgeDisks();
    setup.watch->Observe(scan);
    const ScannedDisk* disk = FindDisk(scan, setup.path);
    if (!disk) {
      if (!result.was_gone) {
        end_line();
        out << "The device is gone. Power it on again (or plug it back in)." << std::endl;
      }
      result.was_gone = true;
      continue;
    }
    // Present: the version it reports now decides, but a bridge still starting may not answer
    // yet, and one that never went away may yet go.
    result.status = ReadDeviceStatus(disk->path.c_str());
    const DeviceStatus& status = result.status;
    const bool read = status.outcome == StatusRead::Read;
    if (!result.was_gone) {
      // Powered off and on between two looks, or not yet: the record tells.
      const bool confirmed = read && SameVersion(status.version, kWrittenVersion);
      if (!setup.watch->Waiting(setup.path, status)) {
        result.end = confirmed ? WaitEnd::Confirmed : WaitEnd::OtherDevice;
        break;
      }
      continue;
    }
    // Back after it was gone (its record ended then): what it was before the write decides.
    if (!record) {
      result.end = WaitEnd::OtherDevice;
      break;
    }
    if (disk->inquiry_ok && !record->identification.empty() &&
        disk->vendor + disk->product != record->identification) {
      result.end = WaitEnd::OtherDevice;
      break;
    }
    if (!read) {
      if (status.outcome == StatusRead::NotQvb886 && status.model_code != 0 &&
          status.model_code != record->model_code) {
        result.end = WaitEnd::OtherDevice;
        break;
      }
      continue;  // not answering yet
    }
    if (SameVersion(status.version, record->written))
      result.end = WaitEnd::Confirmed;
    else if (SameVersion(status.version, record->previous))
      result.end = WaitEnd::NotTaken;
    else
      result.end = WaitEnd::OtherDevice;
    break;
  }
  end_line();
  return result;
}

}  // namespace qvb::cli
