#include "device/win32/disk_interfaces_win32.h"

#include <initguid.h>
// initguid.h first: this unit defines the disk interface class.
#include <ntddstor.h>

#include <cstddef>
#include <cstring>
#include <new>

#include "device/platform_host.h"

namespace qvb::win32_host {

static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == kInterfaceDataSize);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == kDetailRecordSize);
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == 4);
#if !defined(_WIN64)
static_assert(kInterfaceDataSize == 28 && kDetailRecordSize == 5);
#endif

namespace {

class SetupDiWalk : public DiskInterfaceWalk {
 public:
  SetupDiWalk(const SetupApi& api, HDEVINFO set, HGLOBAL block)
      : api_(api), set_(set), block_(block) {
    detail()->cbSize = kDetailRecordSize;  // once, for every interface of the walk
  }
  ~SetupDiWalk() override {
    api_.GlobalFree(block_);
    api_.SetupDiDestroyDeviceInfoList(set_);
  }
  SetupDiWalk(const SetupDiWalk&) = delete;
  SetupDiWalk& operator=(const SetupDiWalk&) = delete;

  bool Read(uint32_t index, DiskInterface& entry) override {
    SP_DEVICE_INTERFACE_DATA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = kInterfaceDataSize;
    if (!api_.SetupDiEnumDeviceInterfaces(set_, nullptr, &DiskInterfaceClass(), index, &data))
      return false;
    if (!api_.SetupDiGetDeviceInterfaceDetailA(set_, &data, detail(), kDetailBlockSize, nullptr,
                                               nullptr))
      return false;
    // A path with its NUL takes at most the block's last byte; this keeps it a text whatever
    // was written.
    static_cast<char*>(static_cast<void*>(block_))[kDetailBlockSize - 1] = '\0';
    entry.device_path = detail()->DevicePath;
    entry.bus_text = entry.device_path;
    return true;
  }

 private:
  // GMEM_FIXED memory: the handle is the block's address.
  SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail() {
    return static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(static_cast<void*>(block_));
  }

  const SetupApi& api_;
  HDEVINFO set_;
  HGLOBAL block_;
};

}  // namespace

const GUID& DiskInterfaceClass() {
  return GUID_DEVINTERFACE_DISK;
}

const SetupApi& SystemSetupApi() {
  static const SetupApi api = {::SetupDiGetClassDevsA,
                               ::SetupDiEnumDeviceInterfaces,
                               ::SetupDiGetDeviceInterfaceDetailA,
                               ::SetupDiDestroyDeviceInfoList,
                               ::GlobalAlloc,
                               ::GlobalFree};
  return api;
}

std::unique_ptr<DiskInterfaceWalk> SetupDiDiskInterfaces::Walk() {
  HDEVINFO set =
      api_.SetupDiGetClassDevsA(&DiskInterfaceClass(), nullptr, nullptr, kClassDevsFlags);
  if (set == INVALID_HANDLE_VALUE) return nullptr;
  // Without its detail block the walk cannot read a single path: no disk is listed.
  HGLOBAL block = api_.GlobalAlloc(GMEM_ZEROINIT, kDetailBlockSize);
  if (!block) {
    api_.SetupDiDestroyDeviceInfoList(set);
    return nullptr;
  }
  std::unique_ptr<DiskInterfaceWalk> walk(new (std::nothrow) SetupDiWalk(api_, set, block));
  if (!walk) {
    api_.GlobalFree(block);
    api_.SetupDiDestroyDeviceInfoList(set);
  }
  return walk;
}

}  // namespace qvb::win32_host

namespace qvb {

DiskInterfaces& PlatformDiskInterfaces() {
  static win32_host::SetupDiDiskInterfaces interfaces(win32_host::SystemSetupApi());
  return interfaces;
}

}  // namespace qvb
