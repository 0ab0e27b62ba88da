// The firmware status check of the selected device: version, status line and what is offered.
#include "app/shell_prompt.h"
#include "app/tform1.h"
#include "firmware/device_status.h"
#include "firmware/run_steps.h"
#include "firmware/screen.h"

namespace qvb {

void TForm1::CheckFirmwareStatus() {
  // 1: nothing attached, nothing to do.
  if (disk_count_ == 0) return;

  // 2-7: identify the selected device and read its version. A failure shows only as the
  // absence of the changes below; the check has no result.
  const std::string path = SelectedDevicePath();
  const DeviceStatus device = ReadDeviceStatus(path.c_str());
  bridge_model_code_ = device.model_code;
  last_status_ = device;
  if (log_) log_->Step(StatusStep(path, device));

  if (power_cycles_.Waiting(path, device)) {
    // Written and verified by this run: until it is powered off and on the bridge still reports
    // its old version. It keeps what the Update command left and is not offered the update again.
    ShowUpdated(ScreenFor(Outcome::PowerCyclePending));
  } else if (!failed_path_.empty() && failed_path_ == path) {
    // The refresh that fell due during a failed update: the failure stays on the screen, as
    // the Update command left it.
    const Screen failed = ScreenFor(Outcome::UpdateFailed);
    pnl_Descript_3->SetText(failed.lines[2]);
    pnl_Descript_4->SetText(failed.lines[3]);
    btn_upd->SetVisible(failed.update.visible);
    btn_upd->SetEnabled(failed.update.enabled);
  } else if (device.outcome == StatusRead::Read) {
    ShowStatus(StatusScreen(device));  // 8-9
  }

  ProcessMessages();            // 10
  RunShellPromptClosingLoop();  // 11
}

// The version line and what is offered, in the check's own order: an offered update is enabled
// before it is shown, and only the screen of a firmware that is up to date shows Exit.
void TForm1::ShowStatus(const Screen& screen) {
  pnl_Descript_3->SetText(screen.lines[2]);
  if (screen.update.enabled) btn_upd->SetEnabled(true);
  btn_upd->SetVisible(screen.update.visible);
  pnl_Descript_4->SetText(screen.lines[3]);
  ProcessMessages();
  if (screen.exit.visible) btn_Exit->SetVisible(true);
}

}  // namespace qvb
