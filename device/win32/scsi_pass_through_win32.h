// Windows backend of the SCSI seam: CreateFileA + DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT).
// The four system calls sit behind a function table so the request that reaches the system is
// testable under Wine, whose own pass-through is not supported.
#pragma once

#include <windows.h>

#include <memory>

#include "device/scsi_host.h"

namespace qvb::win32_host {

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
  std::unique_ptr<ScsiDevice> Open(const char* path, ShareMode share) override;

 private:
  const DeviceApi& api_;
};

}  // namespace qvb::win32_host
