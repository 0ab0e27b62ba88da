// The Update command: lock the window, write and verify the firmware, report.
#include "app/tform1.h"
#include "device/system_services.h"

namespace qvb {

void TForm1::btn_updClick(void*) {
  System().DebugOutput("btn_upd Press\n");
  btn_Exit->SetEnabled(false);
  UpdateBusy = 1;
  btn_upd->SetEnabled(false);

  int result = 0;
  try {
    const std::string path = SelectedDevicePath();
    pnl_Descript_1->SetText("");
    pnl_Descript_2->SetText("DO NOT disconnect the device during the FW update.");
    pnl_Descript_3->SetText("");
    pnl_Descript_4->SetText("Updating....");
    pnl_Descript_5->SetText("");
    updating_ = true;
    ProcessMessages();

    result = UpdateFirmware(this, path.c_str());
    updating_ = false;
    if (result != 0) {
      // No later refresh may offer this bridge the update again before its power cycle.
      power_cycles_.Record(path);
      ShowUpdated();
    } else {
      ShowUpdateFailed();
    }
  } catch (...) {
    // An exception (running out of memory is the plausible one) must not leave the window
    // locked: hot-plug events would never arm the refresh again. A refresh that fell due
    // meanwhile goes back to the timer, to run after the toolkit has shown the exception.
    updating_ = false;
    UpdateBusy = 0;
    if (refresh_deferred_) {
      refresh_deferred_ = false;
      window_->KillTimer(kRefreshTimerId);
      window_->SetTimer(kRefreshTimerId, kRefreshTimerMs);
    }
    btn_Exit->SetEnabled(true);
    if (result != 0)
      ShowUpdated();  // the bridge was written and verified all the same
    else
      ShowUpdateFailed();
    throw;
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
