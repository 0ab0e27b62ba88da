// The device-list refresh: enumerate, identify, fill the hidden list and decide what to offer.
#include <cstdio>

#include "app/tform1.h"
#include "device/system_services.h"
#include "firmware/device_status.h"
#include "firmware/run_steps.h"

namespace qvb {
namespace {

constexpr uint32_t kWarningBox = kMbTaskModal | kMbIconWarning | kMbOk;  // 0x2030

}  // namespace

void TForm1::btn_RefreshClick(void*) {
  ++refreshes_;
  // 1-3: a clean slate.
  const Screen blank = ScreenFor(Outcome::Blank);
  pnl_Descript_1->SetText(blank.lines[0]);
  pnl_Descript_2->SetText(blank.lines[1]);
  pnl_Descript_3->SetText(blank.lines[2]);
  pnl_Descript_4->SetText(blank.lines[3]);
  pnl_Descript_5->SetText(blank.lines[4]);
  pnl_Descript_5->SetFontStyle(0);
  pnl_Descript_5->SetFontColor(tk::kClWindowText);
  btn_Exit->SetVisible(blank.exit.visible);
  btn_upd->SetEnabled(blank.update.enabled);

  // 4-5 and the device loop of 7.2: the disks, lower-cased, named and identified in the
  // enumeration's order.
  const DiskScan scan = ScanBridgeDisks();
  disk_count_ = scan.disk_count;
  if (log_) {
    log_->Step(RefreshStep(scan.disks.size()));
    for (const ScannedDisk& disk : scan.disks) log_->Step(DiskStep(disk));
  }
  power_cycles_.Observe(scan);  // an updated bridge that has gone waits no more
  selected_identification_.clear();
  for (const ScannedDisk& disk : scan.disks) {
    if (!disk.listed()) continue;
    if (disk.inquiry_ok) selected_identification_ = disk.vendor + disk.product;
    break;
  }

  int listed = 0;
  if (disk_count_ == 0) {
    // 6: nothing attached.
    const Screen screen = ScreenFor(Outcome::NoDevice);
    btn_upd->SetVisible(screen.update.visible);
    pnl_Descript_3->SetText(screen.lines[2]);
    pnl_Descript_4->SetText(screen.lines[3]);
    cbb_DeviceList->Clear();
    cbb_DeviceList->AddItem(NoDeviceListLine());
    cbb_DeviceList->SetItemIndex(0);
    cbb_DeviceList->SetEnabled(false);
  } else {
    // 7: list every disk whose bridge identifies; entry k of the table is line k.
    cbb_DeviceList->Clear();
    for (const ScannedDisk& disk : scan.disks) {
      if (listed >= kDeviceTableEntries) {
        System().MessageBox(TableFullWarning(kDeviceTableEntries).c_str(), "Warning", kWarningBox);
        break;
      }
      auto& entry = device_table_[static_cast<std::size_t>(listed)];
      std::snprintf(entry.data(), entry.size(), "%s", disk.path.c_str());
      bridge_model_code_ = disk.model_code;
      if (!disk.listed()) continue;  // its entry is overwritten by the next disk
      cbb_DeviceList->AddItem(ListLine(disk));
      ++listed;
    }
    cbb_DeviceList->SetEnabled(true);
    if (listed == 0) cbb_DeviceList->AddItem("");
    cbb_DeviceList->SetItemIndex(0);
    if (listed <= 1) CheckFirmwareStatus();
    if (listed >= 2) {
      const Screen screen = ScreenFor(Outcome::SeveralDevices);
      btn_upd->SetVisible(screen.update.visible);
      pnl_Descript_2->SetText(screen.lines[1]);
      pnl_Descript_3->SetText(screen.lines[2]);
      pnl_Descript_4->SetText(screen.lines[3]);
    }
  }

  // 9: one warning for several disks.
  if (listed >= 2) System().MessageBox(SeveralDevicesWarning().c_str(), "Warning", kWarningBox);
}

}  // namespace qvb
