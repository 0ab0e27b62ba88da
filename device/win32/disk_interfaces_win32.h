// Windows backend of the disk-interface seam: SetupDi over the disk interface class. The
// setupapi and global-heap calls sit behind a function table so that a test under Wine, which
// lists no disks, can feed interfaces of its own.
#pragma once

#include <windows.h>
// setupapi.h needs the base types of windows.h.
#include <setupapi.h>

#include <memory>

#include "device/disk_interfaces.h"

namespace qvb::win32_host {

struct SetupApi {
  HDEVINFO(WINAPI* SetupDiGetClassDevsA)
  (const GUID* class_guid, PCSTR enumerator, HWND parent, DWORD flags);
  BOOL(WINAPI* SetupDiEnumDeviceInterfaces)
  (HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* class_guid, DWORD index,
   PSP_DEVICE_INTERFACE_DATA data);
  BOOL(WINAPI* SetupDiGetDeviceInterfaceDetailA)
  (HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
   DWORD detail_size, PDWORD required_size, PSP_DEVINFO_DATA device);
  BOOL(WINAPI* SetupDiDestroyDeviceInfoList)(HDEVINFO set);
  HGLOBAL(WINAPI* GlobalAlloc)(UINT flags, SIZE_T bytes);
  HGLOBAL(WINAPI* GlobalFree)(HGLOBAL memory);
};

// The system's own functions.
const SetupApi& SystemSetupApi();

// What the enumeration asks for, and the record sizes the system checks: 28 and 5 in the
// shipped 32-bit program, 32 and 8 in the x86_64 test build.
constexpr DWORD kClassDevsFlags = 0x12;  // DIGCF_PRESENT | DIGCF_DEVICEINTERFACE
#if defined(_WIN64)
constexpr DWORD kInterfaceDataSize = 32;
constexpr DWORD kDetailRecordSize = 8;
#else
constexpr DWORD kInterfaceDataSize = 28;
constexpr DWORD kDetailRecordSize = 5;
#endif
constexpr DWORD kDetailBlockSize = 1024;

// GUID_DEVINTERFACE_DISK.
const GUID& DiskInterfaceClass();

class SetupDiDiskInterfaces : public DiskInterfaces {
 public:
  explicit SetupDiDiskInterfaces(const SetupApi& api) : api_(api) {}
  // The device-information set of present disk interfaces and one zero-filled detail block;
  // null when either cannot be had.
  std::unique_ptr<DiskInterfaceWalk> Walk() override;
  const char* BusText(const char* device_path) override { return device_path; }

 private:
  const SetupApi& api_;
};

}  // namespace qvb::win32_host
