// Windows backend of the SCSI seam: CreateFileA + DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT).
// The four system calls sit behind a function table so the request that reaches the system is
// testable under Wine, whose own pass-through is not supported.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "device/scsi_host.h"

namespace qvb::win32_host {

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
// The request sits at the start of a zero-filled block of this size (the request and 1024
// zero bytes), aligned like the data buffer.
constexpr uint32_t kPassThroughRequestBlockSize = 1068;
constexpr uint32_t kSenseInfoOffset = 48;

struct DeviceApi {
  HANDLE(WINAPI* CreateFileA)
  (LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
   DWORD flags, HANDLE template_file);
  BOOL(WINAPI* DeviceIoControl)
  (HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
   LPDWORD returned, LPOVERLAPPED overlapped);
  DWORD(WINAPI* GetLastError)();
  BOOL(WINAPI* CloseHandle)(HANDLE handle);
};

// The system's own functions.
const DeviceApi& SystemDeviceApi();

constexpr DWORD kIoctlScsiPassThroughDirect = 0x4D014;

// The CreateFileA sharing value for a share mode.
DWORD ShareFlags(ShareMode share);

class PassThroughHost : public ScsiHost {
 public:
  explicit PassThroughHost(const DeviceApi& api) : api_(api) {}
  ScsiOpen Open(const char* path, ShareMode share) override;

 private:
  const DeviceApi& api_;
};

}  // namespace qvb::win32_host
