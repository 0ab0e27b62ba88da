#include "device/win32/disk_interfaces_win32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/enumeration.h"
#include "device/seams.h"
#include "tests/support/fake_system.h"
#include "virtual_bridge/bridge_family.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb {
namespace {

// Records what the enumeration asks of setupapi and the global heap, and answers from a
// list of interface paths (Wine itself lists no disks).
struct SetupCalls {
  std::vector<std::string> order;
  std::vector<std::string> paths;
  bool set_ok = true;
  bool alloc_ok = true;
  int detail_fail_at = -1;

  GUID class_guid{};
  bool enumerator_given = false, parent_given = false;
  DWORD flags = 0;
  UINT alloc_flags = 0;
  SIZE_T alloc_size = 0;
  HGLOBAL block = nullptr;
  bool block_zeroed = false;
  std::vector<DWORD> enum_sizes, enum_indexes;
  bool enum_wrong_set = false, enum_device_given = false, enum_wrong_class = false;
  std::vector<DWORD> detail_record_sizes, detail_sizes;
  bool detail_wrong_block = false, detail_required_given = false, detail_device_given = false;
  HGLOBAL freed = nullptr;
  HDEVINFO destroyed = nullptr;
  DWORD current = 0;
};

SetupCalls* g_calls = nullptr;
const HDEVINFO kSet = reinterpret_cast<HDEVINFO>(0x5E7);

// The record sizes SetupDi checks on the architecture the test runs on.
#if defined(_WIN64)
constexpr DWORD kSystemInterfaceDataSize = 32;
constexpr DWORD kSystemDetailRecordSize = 8;
#else
constexpr DWORD kSystemInterfaceDataSize = 28;
constexpr DWORD kSystemDetailRecordSize = 5;
#endif

HDEVINFO WINAPI FakeGetClassDevs(const GUID* guid, PCSTR enumerator, HWND parent, DWORD flags) {
  g_calls->order.push_back("class_devs");
  g_calls->class_guid = *guid;
  g_calls->enumerator_given = enumerator != nullptr;
  g_calls->parent_given = parent != nullptr;
  g_calls->flags = flags;
  return g_calls->set_ok ? kSet : INVALID_HANDLE_VALUE;
}

BOOL WINAPI FakeEnum(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* guid, DWORD index,
                     PSP_DEVICE_INTERFACE_DATA data) {
  g_calls->order.push_back("enum");
  g_calls->enum_sizes.push_back(data->cbSize);
  g_calls->enum_indexes.push_back(index);
  g_calls->enum_wrong_set |= set != kSet;
  g_calls->enum_device_given |= device != nullptr;
  g_calls->enum_wrong_class |= !IsEqualGUID(*guid, qvb::win32_host::DiskInterfaceClass());
  data->cbSize = 0xDEAD;  // the caller must set it again before the next call
  g_calls->current = index;
  if (index >= g_calls->paths.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI FakeDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                       PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                       PSP_DEVINFO_DATA device) {
  g_calls->order.push_back("detail");
  g_calls->detail_record_sizes.push_back(detail->cbSize);
  g_calls->detail_sizes.push_back(size);
  g_calls->detail_wrong_block |= static_cast<void*>(detail) != static_cast<void*>(g_calls->block);
  g_calls->detail_required_given |= required != nullptr;
  g_calls->detail_device_given |= device != nullptr;
  if (static_cast<int>(g_calls->current) == g_calls->detail_fail_at) return FALSE;
  const std::string& path = g_calls->paths[g_calls->current];
  const std::size_t room = size - 4;
  // Like the system: the whole path and its NUL, or, for the overlong test, as much as fits.
  std::memcpy(detail->DevicePath, path.c_str(), std::min(path.size() + 1, room));
  return TRUE;
}

BOOL WINAPI FakeDestroy(HDEVINFO set) {
  g_calls->order.push_back("destroy");
  g_calls->destroyed = set;
  return TRUE;
}

HGLOBAL WINAPI FakeGlobalAlloc(UINT flags, SIZE_T bytes) {
  g_calls->order.push_back("alloc");
  g_calls->alloc_flags = flags;
  g_calls->alloc_size = bytes;
  if (!g_calls->alloc_ok) return nullptr;
  g_calls->block = ::GlobalAlloc(flags, bytes);
  const auto* bytes_of = static_cast<const unsigned char*>(static_cast<void*>(g_calls->block));
  g_calls->block_zeroed = true;
  for (SIZE_T i = 0; i < bytes; ++i) g_calls->block_zeroed &= bytes_of[i] == 0;
  return g_calls->block;
}

HGLOBAL WINAPI FakeGlobalFree(HGLOBAL memory) {
  g_calls->order.push_back("free");
  g_calls->freed = memory;
  return ::GlobalFree(memory);
}

const win32_host::SetupApi kFakeApi = {FakeGetClassDevs, FakeEnum,        FakeDetail,
                                       FakeDestroy,      FakeGlobalAlloc, FakeGlobalFree};

const std::string kGuid = "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string kUsb = "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#0001" + kGuid;
const std::string kSata = "\\\\?\\ide#diskwdc_wd10ezex#0002" + kGuid;
const std::string kUas = "\\\\?\\scsi#disk&ven_quorvel&prod_qvb886#0003" + kGuid;

class SetupDiTest : public ::testing::Test {
 protected:
  SetupDiTest() {
    g_calls = &calls;
    for (const auto& path : {kUsb, kSata, kUas}) {
      calls.paths.push_back(path);
      bridge.devices().push_back(virt::MakeBridge(path));
    }
  }
  ~SetupDiTest() override { g_calls = nullptr; }

  int Enumerate() { return EnumerateBridgeDisks(pointers.data(), 16, 256, 1); }
  std::string Path(int i) const { return storage[static_cast<std::size_t>(i)].data(); }

  SetupCalls calls;
  virt::VirtualBridge bridge;
  ScopedSeams scsi{HostSeams{.scsi = &bridge}};
  win32_host::SetupDiDiskInterfaces setupdi{kFakeApi};
  ScopedSeams installed{HostSeams{.disks = &setupdi}};
  testing::FakeSystem system;
  std::vector<std::vector<char>> storage =
      std::vector<std::vector<char>>(16, std::vector<char>(256, '#'));
  std::vector<char*> pointers = [this] {
    std::vector<char*> p;
    for (auto& s : storage) p.push_back(s.data());
    return p;
  }();
};

TEST_F(SetupDiTest, WalksThePresentDiskInterfacesAsTheSystemExpects) {
  ASSERT_EQ(2, Enumerate());
  EXPECT_EQ(kUsb, Path(0));
  EXPECT_EQ(kUas, Path(1));

  EXPECT_EQ((std::vector<std::string>{"class_devs", "alloc", "enum", "detail", "enum", "detail",
                                      "enum", "detail", "enum", "free", "destroy"}),
            calls.order);
  const GUID disk_class = {
      0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
  EXPECT_TRUE(IsEqualGUID(disk_class, calls.class_guid));
  EXPECT_FALSE(calls.enumerator_given);
  EXPECT_FALSE(calls.parent_given);
  EXPECT_EQ(0x12u, calls.flags);
  EXPECT_EQ(static_cast<UINT>(GMEM_ZEROINIT), calls.alloc_flags);
  EXPECT_EQ(1024u, calls.alloc_size);
  EXPECT_TRUE(calls.block_zeroed);
  EXPECT_EQ(std::vector<DWORD>(4, kSystemInterfaceDataSize), calls.enum_sizes);
  EXPECT_EQ((std::vector<DWORD>{0, 1, 2, 3}), calls.enum_indexes);
  EXPECT_FALSE(calls.enum_wrong_set || calls.enum_device_given || calls.enum_wrong_class);
  EXPECT_EQ(std::vector<DWORD>(3, kSystemDetailRecordSize), calls.detail_record_sizes);
  EXPECT_EQ((std::vector<DWORD>{1024, 1024, 1024}), calls.detail_sizes);
  EXPECT_FALSE(calls.detail_wrong_block || calls.detail_required_given ||
               calls.detail_device_given);
  EXPECT_EQ(calls.block, calls.freed);
  EXPECT_EQ(kSet, calls.destroyed);
}

TEST_F(SetupDiTest, FailedDetailCallEndsTheWalk) {
  calls.detail_fail_at = 1;
  ASSERT_EQ(1, Enumerate());
  EXPECT_EQ(kUsb, Path(0));
  EXPECT_EQ((std::vector<std::string>{"class_devs", "alloc", "enum", "detail", "enum", "detail",
                                      "free", "destroy"}),
            calls.order);
}

TEST_F(SetupDiTest, NoDeviceSetOrNoDetailBlockListsNothing) {
  calls.set_ok = false;
  EXPECT_EQ(0, Enumerate());
  EXPECT_EQ(std::vector<std::string>{"class_devs"}, calls.order);

  calls = SetupCalls{};
  calls.paths = {kUsb};
  calls.alloc_ok = false;
  EXPECT_EQ(0, Enumerate());
  EXPECT_EQ((std::vector<std::string>{"class_devs", "alloc", "destroy"}), calls.order);
  EXPECT_EQ('#', storage[0][0]);
  EXPECT_TRUE(bridge.requests().empty());
}

TEST_F(SetupDiTest, PathFillingTheWholeBlockStaysInsideIt) {
  // A path with no room for its NUL in the block is still read as a text that ends in the
  // block; far too long for the caller's buffer, it is left out.
  calls.paths = {kUsb + std::string(1100, 'x'), kUas};
  ASSERT_EQ(1, Enumerate());
  EXPECT_EQ(kUas, Path(0));
}

TEST(SetupDiSystem, TheSystemsDiskClassCanBeWalked) {
  // Under Wine the list is empty; on Windows every entry is a device path.
  win32_host::SetupDiDiskInterfaces system_list(win32_host::SystemSetupApi());
  auto walk = system_list.Walk();
  ASSERT_TRUE(walk);
  DiskInterface entry;
  uint32_t index = 0;
  while (index < 1000 && walk->Read(index, entry)) {
    EXPECT_STRNE("", entry.device_path);
    ++index;
  }
  EXPECT_LT(index, 1000u);
}

}  // namespace
}  // namespace qvb
