// The seam below the pass-through transport: open a disk by path, send one request, close.
// One implementation per host (device/win32, device/linux) and the virtual bridge for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace qvb {

// Which way the data of a command goes. A request with a transfer length of 0 has no data phase
// whichever way it points; the direction still tells the host what kind of command it is.
enum class ScsiDirection : uint8_t {
  FromDevice,
  ToDevice,
};

constexpr std::size_t kMaxCdbLength = 16;

// One command block with its optional data phase, as the transport hands it to a host.
struct ScsiRequest {
  ScsiDirection direction = ScsiDirection::FromDevice;
  uint8_t cdb[kMaxCdbLength] = {};
  uint8_t cdb_length = 0;
  void* data = nullptr;  // the aligned transfer buffer; null when transfer_length is 0
  uint32_t transfer_length = 0;
  uint32_t timeout_seconds = 0;
};

constexpr uint8_t kScsiStatusGood = 0x00;
constexpr uint8_t kScsiStatusCheckCondition = 0x02;

// How an open or a request ended.
enum class ScsiOutcome : uint8_t {
  Done,        // carried out and the device answered GOOD (an open: the device is open)
  ScsiStatus,  // the device ended the command with another status (`scsi_status`)
  OsError,     // the system failed the open or the request (`os_error`, the system's code)
  Permission,  // the system refused for lack of rights (`os_error`, the system's code)
  Busy,        // an open refused because another program holds the device exclusively
};

struct ScsiResult {
  ScsiOutcome outcome = ScsiOutcome::Done;
  uint8_t scsi_status = kScsiStatusGood;  // the device's status as the system reported it
  uint32_t os_error = 0;
  uint32_t transferred = 0;  // bytes moved as the system reports them, also after a failure

  bool ok() const { return outcome == ScsiOutcome::Done; }

  static ScsiResult Fail(ScsiOutcome outcome, uint32_t os_error) {
    ScsiResult result;
    result.outcome = outcome;
    result.os_error = os_error;
    return result;
  }
};

enum class ShareMode {
  ReadWrite,  // others may open the device for reading and writing too
  Exclusive,  // no sharing
};

// An open device. Destroying it closes it.
class ScsiDevice {
 public:
  virtual ~ScsiDevice() = default;
  // Carries out one request; the data phase goes through `request.data`.
  virtual ScsiResult Send(const ScsiRequest& request) = 0;
};

// An open that succeeded (a device, result Done) or failed (no device, and why).
struct ScsiOpen {
  std::unique_ptr<ScsiDevice> device;
  ScsiResult result;

  static ScsiOpen Failed(ScsiOutcome outcome, uint32_t os_error) {
    return {nullptr, ScsiResult::Fail(outcome, os_error)};
  }
};

class ScsiHost {
 public:
  virtual ~ScsiHost() = default;
  // Opens an existing device for reading and writing.
  virtual ScsiOpen Open(const char* path, ShareMode share) = 0;
};

// The host in use (see device/seams.h).
ScsiHost& ActiveScsiHost();

}  // namespace qvb
