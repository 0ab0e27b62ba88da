// The Update command: lock the window, write and verify the firmware, report.
#include "app/tform1.h"
#include "device/system_services.h"
#include "device/test_device.h"
#include "firmware/run_steps.h"

namespace qvb {

void TForm1::btn_updClick(void*) {
  const Screen updating = ScreenFor(Outcome::Updating);
  System().DebugOutput("btn_upd Press\n");
  // A test build refuses a real bridge before the window changes at all: nothing is written,
  // and the box says why.
  if (!MayWriteFirmware(SelectedDevicePath().c_str())) {
    if (log_) log_->Step("outcome of update: test_build_refused");
    System().MessageBox(TestBuildRefusal(), "Warning", kMbTaskModal | kMbIconWarning | kMbOk);
    return;
  }
  btn_Exit->SetEnabled(updating.exit.enabled);
  UpdateBusy = 1;
  btn_upd->SetEnabled(updating.update.enabled);

  int result = 0;
  try {
    const std::string path = SelectedDevicePath();
    pnl_Descript_1->SetText(updating.lines[0]);
    pnl_Descript_2->SetText(updating.lines[1]);
    pnl_Descript_3->SetText(updating.lines[2]);
    pnl_Descript_4->SetText(updating.lines[3]);
    pnl_Descript_5->SetText(updating.lines[4]);
    updating_ = true;
    ProcessMessages();

    if (log_) log_->Step("update of " + Printable(path) + " begins");
    // The log's observer passes everything on to the window, in the same order.
    StepLoggingObserver logged(*this, log_);
    result = UpdateFirmware(log_ ? static_cast<UpdateObserver*>(&logged) : this, path.c_str());
    logged.Finish(result != 0);
    if (log_)
      log_->Step(std::string("outcome of update: ") + (result != 0 ? "updated" : "update_failed"));
    updating_ = false;
    const Screen done = ScreenFor(result != 0 ? Outcome::Updated : Outcome::UpdateFailed);
    if (result != 0) {
      // No later refresh may offer this bridge the update again before its power cycle.
      power_cycles_.Record(path, selected_identification_, last_status_);
      ShowUpdated(done);
    } else {
      ShowUpdateFailed(done);
    }
    btn_Exit->SetEnabled(done.exit.enabled);
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
      ShowUpdated(ScreenFor(Outcome::Updated));  // the bridge was written and verified all the same
    else
      ShowUpdateFailed(ScreenFor(Outcome::UpdateFailed));
    throw;
  }
  UpdateBusy = 0;

  if (refresh_deferred_) {
    refresh_deferred_ = false;
    // The refresh that fell due meanwhile must not hide the failure behind the version line: as
    // long as the failed bridge is still the one shown, it keeps "Update Fail!".
    if (result == 0) failed_path_ = SelectedDevicePath();
    btn_RefreshClick(btn_Refresh);
    failed_path_.clear();
  }
}

void TForm1::ShowUpdated(const Screen& screen) {
  pnl_Descript_2->SetText(screen.lines[1]);
  pnl_Descript_4->SetText(screen.lines[3]);
  btn_upd->SetVisible(screen.update.visible);
  btn_Exit->SetVisible(screen.exit.visible);
}

void TForm1::ShowUpdateFailed(const Screen& screen) {
  pnl_Descript_2->SetText(screen.lines[1]);
  pnl_Descript_3->SetText(screen.lines[2]);
}

}  // namespace qvb
