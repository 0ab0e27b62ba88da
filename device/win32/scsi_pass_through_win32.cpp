#include "device/win32/scsi_pass_through_win32.h"

#include <ntddscsi.h>

#include <cstddef>

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
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == kIoctlScsiPassThroughDirect);

namespace {

class PassThroughDevice : public ScsiDevice {
 public:
  PassThroughDevice(const DeviceApi& api, HANDLE handle) : api_(api), handle_(handle) {}
  ~PassThroughDevice() override { api_.CloseHandle(handle_); }
  PassThroughDevice(const PassThroughDevice&) = delete;
  PassThroughDevice& operator=(const PassThroughDevice&) = delete;

  bool Send(ScsiPassThroughDirect& request, uint32_t& last_error) override {
    const DWORD size = static_cast<DWORD>(sizeof request);
    DWORD returned = 0;
    const BOOL accepted = api_.DeviceIoControl(handle_, kIoctlScsiPassThroughDirect, &request, size,
                                               &request, size, &returned, nullptr);
    last_error = api_.GetLastError();
    return accepted != FALSE;
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

std::unique_ptr<ScsiDevice> PassThroughHost::Open(const char* path, ShareMode share) {
  const HANDLE handle = api_.CreateFileA(path, GENERIC_READ | GENERIC_WRITE, ShareFlags(share),
                                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return nullptr;
  return std::make_unique<PassThroughDevice>(api_, handle);
}

}  // namespace qvb::win32_host

namespace qvb {

ScsiHost& PlatformScsiHost() {
  static win32_host::PassThroughHost host(win32_host::SystemDeviceApi());
  return host;
}

}  // namespace qvb
