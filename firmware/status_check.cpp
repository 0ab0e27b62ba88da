// The firmware status check of the selected device: version, status line and what is offered.
#include <array>
#include <cstdio>

#include "app/shell_prompt.h"
#include "app/tform1.h"
#include "device/bridge_commands.h"
#include "device/identification.h"
#include "firmware/version_policy.h"

namespace qvb {

void TForm1::CheckFirmwareStatus() {
  // 1: nothing attached, nothing to do.
  if (disk_count_ == 0) return;
  // The check has no result: a failure shows only as the absence of the changes below.
  bool failed = false;

  // 2: the selected entry addresses every command below.
  const char* path = SelectedDevicePath();
  std::array<uint8_t, 4> config{};
  std::array<uint8_t, 4> flash_id{};
  std::array<uint8_t, kBridgeInfoSize> info{};

  bridge_model_code_ = IdentifyBridge(path);  // 3
  if (bridge_model_code_ != kQvb886ModelCode) failed = true;
  if (!failed && !ReadBridgeConfig(path, config.data())) failed = true;  // 4
  if (!failed && (config[0] == 0 || config[0] == 1 || config[0] == 3))
    ReadFlashId(path, flash_id.data());  // 5: its outcome changes nothing
  if (!failed) {
    int transferred = 0;  // 6
    if (ReadBridgeInfo(path, info.data(), kBridgeInfoSize, &transferred) <= 0 ||
        info[0] != kBridgeInfoSignature0 || info[1] != kBridgeInfoSignature1)
      failed = true;
  }
  if (!failed) {
    WaitFlashReady(path);  // 7: a flash that stays busy still has its version read
    const FirmwareVersion version{info[12], info[13], info[14], info[15]};
    const std::string text = VersionText(version);  // 8
    switch (ClassifyVersion(version)) {             // 9
      case FirmwareStatus::UpdateRequired:
        pnl_Descript_3->SetText(text);
        btn_upd->SetEnabled(true);
        btn_upd->SetVisible(true);
        pnl_Descript_4->SetText(StatusLine(FirmwareStatus::UpdateRequired));
        ProcessMessages();
        break;
      case FirmwareStatus::UpToDate:
        pnl_Descript_3->SetText(text);
        btn_upd->SetVisible(false);
        pnl_Descript_4->SetText(StatusLine(FirmwareStatus::UpToDate));
        ProcessMessages();
        btn_Exit->SetVisible(true);
        break;
      case FirmwareStatus::NotSupported:
        pnl_Descript_3->SetText(text);
        btn_upd->SetVisible(false);
        pnl_Descript_4->SetText(StatusLine(FirmwareStatus::NotSupported));
        ProcessMessages();
        break;
    }
  }

  ProcessMessages();            // 10
  RunShellPromptClosingLoop();  // 11
}

}  // namespace qvb
