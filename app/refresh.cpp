// The device-list refresh: enumerate, identify, fill the hidden list and decide what to offer.
#include <cstdio>
#include <string>

#include "app/tform1.h"
#include "device/enumeration.h"
#include "device/system_services.h"
#include "firmware/device_status.h"

namespace qvb {
namespace {

constexpr uint32_t kWarningBox = kMbTaskModal | kMbIconWarning | kMbOk;  // 0x2030

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

  // 4-5 and the device loop of 7.2: the disks, lower-cased, named and identified in the
  // enumeration's order.
  const DiskScan scan = ScanBridgeDisks();
  disk_count_ = scan.disk_count;
  power_cycles_.Observe(scan);  // an updated bridge that has gone waits no more

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
    // 7: list every disk whose bridge identifies; entry k of the table is line k.
    cbb_DeviceList->Clear();
    for (const ScannedDisk& disk : scan.disks) {
      if (listed >= kDeviceTableEntries) {
        char text[64];
        std::snprintf(text, sizeof text, "The tool only can show %d disks.", kDeviceTableEntries);
        System().MessageBox(text, "Warning", kWarningBox);
        break;
      }
      auto& entry = device_table_[static_cast<std::size_t>(listed)];
      std::snprintf(entry.data(), entry.size(), "%s", disk.path.c_str());
      bridge_model_code_ = disk.model_code;
      if (!disk.listed()) continue;  // its entry is overwritten by the next disk
      cbb_DeviceList->AddItem(std::string(BusPrefixForPath(disk.path.c_str())) + disk.name_text);
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

  // 9: one warning for several disks.
  if (listed >= 2) {
    System().MessageBox(
        "Multiple USB drives are attached.\nPlease disconnect all devices\nexcept the one that "
        "needs to be updated.",
        "Warning", kWarningBox);
  }
}

}  // namespace qvb
