// The seam below the pass-through transport: open a disk by path, send one request, close.
// One implementation per host (device/win32, device/linux) and the virtual bridge for tests.
#pragma once

#include <cstdint>
#include <memory>

namespace qvb {

// Field for field the platform's SCSI_PASS_THROUGH_DIRECT; on i686 Windows it is the very
// layout (44 bytes, DataBuffer at 20, SenseInfoOffset at 24, Cdb at 28).
struct ScsiPassThroughDirect {
  uint16_t Length;
  uint8_t ScsiStatus;
  uint8_t PathId;
  uint8_t TargetId;
  uint8_t Lun;
  uint8_t CdbLength;
  uint8_t SenseInfoLength;
  uint8_t DataIn;  // 1: data from the device, 0: data to the device
  uint32_t DataTransferLength;
  uint32_t TimeOutValue;  // seconds
  void* DataBuffer;
  uint32_t SenseInfoOffset;
  uint8_t Cdb[16];
};

constexpr uint8_t kScsiIoctlDataOut = 0;
constexpr uint8_t kScsiIoctlDataIn = 1;
constexpr uint8_t kScsiStatusGood = 0x00;
constexpr uint8_t kScsiStatusCheckCondition = 0x02;

enum class ShareMode {
  ReadWrite,  // others may open the device for reading and writing too
  Exclusive,  // no sharing
};

// An open device. Destroying it closes it.
class ScsiDevice {
 public:
  virtual ~ScsiDevice() = default;
  // Sends the request in place. Returns whether the platform accepted it; `last_error` is
  // the platform's error code read right after the call (0 when none is pending).
  virtual bool Send(ScsiPassThroughDirect& request, uint32_t& last_error) = 0;
};

class ScsiHost {
 public:
  virtual ~ScsiHost() = default;
  // Opens an existing device for reading and writing. Null when it cannot be opened.
  virtual std::unique_ptr<ScsiDevice> Open(const char* path, ShareMode share) = 0;
};

// The host in use (see device/seams.h).
ScsiHost& ActiveScsiHost();

}  // namespace qvb
