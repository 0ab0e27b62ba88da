#include "device/win32/scsi_pass_through_win32.h"

#include <ntddscsi.h>

#include <cstddef>
#include <cstring>

#include "device/aligned_buffer.h"

#include "device/platform_host.h"

namespace qvb::win32_host {

// The request goes to the system as it is, so it must be the system's structure byte for byte;
// in the shipped 32-bit program that is the 44-byte request.
static_assert(sizeof(ScsiPassThroughDirect) == sizeof(SCSI_PASS_THROUGH_DIRECT));
static_assert(offsetof(ScsiPassThroughDirect, DataTransferLength) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength));
static_assert(offsetof(ScsiPassThroughDirect, TimeOutValue) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue));
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer));
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset));
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb));
#if !defined(_WIN64)
static_assert(sizeof(ScsiPassThroughDirect) == 44);
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == 20);
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) == 24);
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == 28);
#endif
static_assert(sizeof(ScsiPassThroughDirect) <= kPassThroughRequestBlockSize);
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == kIoctlScsiPassThroughDirect);

namespace {

// ERROR_ACCESS_DENIED is the system's "not allowed": the program runs without administrator
// rights, or another process holds the disk.
ScsiOutcome ErrorOutcome(DWORD error) {
  return error == ERROR_ACCESS_DENIED ? ScsiOutcome::Permission : ScsiOutcome::OsError;
}

// A sharing violation on open: another program has the disk open without sharing it.
ScsiOutcome OpenErrorOutcome(DWORD error) {
  return error == ERROR_SHARING_VIOLATION ? ScsiOutcome::Busy : ErrorOutcome(error);
}

void FillRequest(ScsiPassThroughDirect& r, const ScsiRequest& request) {
  r.Length = static_cast<uint16_t>(sizeof(ScsiPassThroughDirect));
  r.ScsiStatus = 0;
  r.PathId = 0;
  r.TargetId = 1;
  r.Lun = 0;
  r.CdbLength = request.cdb_length;
  r.SenseInfoLength = 0;
  r.DataIn = request.direction == ScsiDirection::FromDevice ? kScsiIoctlDataIn : kScsiIoctlDataOut;
  r.DataTransferLength = request.transfer_length;
  r.TimeOutValue = request.timeout_seconds;
  r.DataBuffer = request.transfer_length != 0 ? request.data : nullptr;
  r.SenseInfoOffset = kSenseInfoOffset;
  const std::size_t copied =
      request.cdb_length < kMaxCdbLength ? request.cdb_length : kMaxCdbLength;
  std::memcpy(r.Cdb, request.cdb, copied);
}

class PassThroughDevice : public ScsiDevice {
 public:
  PassThroughDevice(const DeviceApi& api, HANDLE handle) : api_(api), handle_(handle) {}
  ~PassThroughDevice() override { api_.CloseHandle(handle_); }
  PassThroughDevice(const PassThroughDevice&) = delete;
  PassThroughDevice& operator=(const PassThroughDevice&) = delete;

  ScsiResult Send(const ScsiRequest& request) override {
    // The request lives at the start of its own aligned, zero-filled block.
    AlignedBuffer block;
    if (!block.Allocate(kPassThroughRequestBlockSize))
      return ScsiResult::Fail(ScsiOutcome::OsError, ERROR_NOT_ENOUGH_MEMORY);
    auto& r = *reinterpret_cast<ScsiPassThroughDirect*>(block.data());
    FillRequest(r, request);

    const DWORD size = static_cast<DWORD>(sizeof r);
    DWORD returned = 0;
    const BOOL accepted = api_.DeviceIoControl(handle_, kIoctlScsiPassThroughDirect, &r, size, &r,
                                               size, &returned, nullptr);
    const DWORD last_error = api_.GetLastError();

    ScsiResult result;
    result.scsi_status = r.ScsiStatus;
    result.transferred = r.DataTransferLength;  // as the system left it, also after a failure
    if (!accepted) {
      result.outcome = ErrorOutcome(last_error);
      result.os_error = last_error;
    } else if (last_error != 0) {
      result.outcome = ScsiOutcome::OsError;
      result.os_error = last_error;
    } else if (r.ScsiStatus != kScsiStatusGood) {
      result.outcome = ScsiOutcome::ScsiStatus;
    }
    return result;
  }

 private:
  const DeviceApi& api_;
  HANDLE handle_;
};

}  // namespace

const DeviceApi& SystemDeviceApi() {
  static const DeviceApi api{::CreateFileA, ::DeviceIoControl, ::GetLastError, ::CloseHandle};
  return api;
}

DWORD ShareFlags(ShareMode share) {
  return share == ShareMode::ReadWrite ? (FILE_SHARE_READ | FILE_SHARE_WRITE) : 0;
}

ScsiOpen PassThroughHost::Open(const char* path, ShareMode share) {
  const HANDLE handle = api_.CreateFileA(path, GENERIC_READ | GENERIC_WRITE, ShareFlags(share),
                                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    const DWORD error = api_.GetLastError();
    return ScsiOpen::Failed(OpenErrorOutcome(error), error);
  }
  return {std::make_unique<PassThroughDevice>(api_, handle), {}};
}

}  // namespace qvb::win32_host

namespace qvb {

ScsiHost& PlatformScsiHost() {
  static win32_host::PassThroughHost host(win32_host::SystemDeviceApi());
  return host;
}

}  // namespace qvb
