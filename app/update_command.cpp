// The Update command: lock the window, write and verify the firmware, report.
#include "app/tform1.h"
#include "device/system_services.h"

namespace qvb {

void TForm1::btn_updClick(void*) {
  System().DebugOutput("btn_upd Press\n");
  btn_Exit->SetEnabled(false);
  UpdateBusy = 1;
  btn_upd->SetEnabled(false);
  const std::string path = SelectedDevicePath();

  pnl_Descript_1->SetText("");
  pnl_Descript_2->SetText("DO NOT disconnect the device during the FW update.");
  pnl_Descript_3->SetText("");
  pnl_Descript_4->SetText("Updating....");
  pnl_Descript_5->SetText("");
  updating_ = true;
  ProcessMessages();

  const int result = UpdateFirmware(this, path.c_str());
  updating_ = false;

  if (result != 0) {
    // No later refresh may offer this bridge the update again before its power cycle.
    power_cycles_.Record(path);
    ShowUpdated();
  } else {
    ShowUpdateFailed();
  }
  btn_Exit->SetEnabled(true);
  UpdateBusy = 0;

  if (refresh_deferred_) {
    refresh_deferred_ = false;
    btn_RefreshClick(btn_Refresh);
  }
}

void TForm1::ShowUpdated() {
  pnl_Descript_2->SetText(kPowerCycleLine);
  pnl_Descript_4->SetText(kUpdatedLine);
  btn_upd->SetVisible(false);
  btn_Exit->SetVisible(true);
}

void TForm1::ShowUpdateFailed() {
  pnl_Descript_2->SetText("");
  pnl_Descript_3->SetText("Update Fail!");
}

}  // namespace qvb
