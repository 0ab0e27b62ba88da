// The device-list refresh: enumerate, identify, fill the hidden list and decide what to offer.
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/tform1.h"
#include "device/bridge_commands.h"
#include "device/enumeration.h"
#include "device/identification.h"
#include "device/system_services.h"

namespace qvb {
namespace {

constexpr int kPathBuffers = 16;
constexpr std::size_t kPathBufferSize = 256;
constexpr int kInquiryLength = 40;
constexpr std::size_t kNameTextSize = 24;
constexpr uint32_t kWarningBox = kMbTaskModal | kMbIconWarning | kMbOk;  // 0x2030

void LowerCase(char* path) {
  for (; *path; ++path) *path = static_cast<char>(std::tolower(static_cast<unsigned char>(*path)));
}

// The name text ends at its first NUL or after its 24 bytes.
std::string NameText(const std::array<uint8_t, kNameTextSize>& name) {
  std::size_t length = 0;
  while (length < name.size() && name[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(name.data()), length);
}

}  // namespace

void TForm1::btn_RefreshClick(void*) {
  ++refreshes_;
  // 1-3: a clean slate.
  pnl_Descript_1->SetText("");
  pnl_Descript_2->SetText("");
  pnl_Descript_3->SetText("");
  pnl_Descript_4->SetText("");
  pnl_Descript_5->SetText("");
  pnl_Descript_5->SetFontStyle(0);
  pnl_Descript_5->SetFontColor(tk::kClWindowText);
  btn_Exit->SetVisible(false);
  btn_upd->SetEnabled(false);

  // 4-5: the disks behind a supported bridge.
  std::vector<std::array<char, kPathBufferSize>> buffers(kPathBuffers);
  std::array<char*, kPathBuffers> paths{};
  for (int i = 0; i < kPathBuffers; ++i)
    paths[static_cast<std::size_t>(i)] = buffers[static_cast<std::size_t>(i)].data();
  disk_count_ = EnumerateBridgeDisks(paths.data(), kPathBuffers, kPathBufferSize, 1);

  int listed = 0;
  if (disk_count_ == 0) {
    // 6: nothing attached.
    btn_upd->SetVisible(false);
    pnl_Descript_3->SetText("No compatible USB device were found.");
    pnl_Descript_4->SetText("Please plug a compatible USB device.");
    cbb_DeviceList->Clear();
    cbb_DeviceList->AddItem("No available device!!!");
    cbb_DeviceList->SetItemIndex(0);
    cbb_DeviceList->SetEnabled(false);
  } else {
    // 7: list every disk whose bridge identifies.
    std::array<uint8_t, kInquiryLength> inquiry{};
    std::array<uint8_t, kNameTextSize> name{};
    cbb_DeviceList->Clear();
    for (int i = 0; i < disk_count_ && i < kPathBuffers; ++i) {
      if (listed >= kDeviceTableEntries) {
        char text[64];
        std::snprintf(text, sizeof text, "The tool only can show %d disks.", kDeviceTableEntries);
        System().MessageBox(text, "Warning", kWarningBox);
        break;
      }
      char* path = paths[static_cast<std::size_t>(i)];
      LowerCase(path);
      if (Inquiry(path, inquiry.data(), kInquiryLength))
        std::memcpy(name.data(), inquiry.data() + 8, kNameTextSize);
      auto& entry = device_table_[static_cast<std::size_t>(listed)];
      std::snprintf(entry.data(), entry.size(), "%s", path);
      bridge_model_code_ = IdentifyBridge(path);
      if (bridge_model_code_ == 0) continue;
      cbb_DeviceList->AddItem(std::string(BusPrefixForPath(path)) + NameText(name));
      ++listed;
    }
    cbb_DeviceList->SetEnabled(true);
    if (listed == 0) cbb_DeviceList->AddItem("");
    cbb_DeviceList->SetItemIndex(0);
    if (listed <= 1) CheckFirmwareStatus();
    if (listed >= 2) {
      btn_upd->SetVisible(false);
      pnl_Descript_2->SetText("Multiple USB drives are attached.");
      pnl_Descript_3->SetText("Please disconnect all devices.");
      pnl_Descript_4->SetText("except the one that needs to be updated.");
    }
  }

  // 9: one warning for several disks, whichever branch ran.
  if (listed >= 2) {
    System().MessageBox(
        "Multiple USB drives are attached.\nPlease disconnect all devices\nexcept the one that "
        "needs to be updated.",
        "Warning", kWarningBox);
  }
}

}  // namespace qvb
