// The main window: its nine controls, its handlers and the state it owns.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "app/toolkit/toolkit.h"
#include "device/request_log.h"
#include "firmware/power_cycle.h"
#include "firmware/screen.h"
#include "firmware/update.h"

namespace qvb {

// Set while the Update command runs; keeps devices-changed events from arming the refresh.
extern int32_t UpdateBusy;

constexpr uintptr_t kRefreshTimerId = 101;
constexpr uint32_t kRefreshTimerMs = 500;
constexpr int kDeviceTableEntries = 128;
constexpr int kDeviceTableEntrySize = 320;

class TForm1 : public tk::MessageHandler, public UpdateObserver {
 public:
  // Builds the window from its layout, then runs the refresh before the window is shown. With a
  // `waiting_file`, the bridges that wait for their power cycle are shared with every other run
  // of either front end through that file. With a `log`, the refresh, the status check and the
  // update write their step lines to it; nothing the window shows changes.
  explicit TForm1(tk::Application& application, const std::string& waiting_file = "",
                  RequestLog* log = nullptr);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Published controls, in declaration order.
  tk::Button* btn_Refresh;
  tk::ComboBox* cbb_DeviceList;
  tk::Panel* pnl_Descript_2;
  tk::Panel* pnl_Descript_1;
  tk::Button* btn_Exit;
  tk::Panel* pnl_Descript_3;
  tk::Button* btn_upd;
  tk::Panel* pnl_Descript_4;
  tk::Panel* pnl_Descript_5;

  // Published event handlers.
  void FormCreate(void* sender);
  void btn_RefreshClick(void* sender);
  void btn_updClick(void* sender);
  void btn_ExitClick(void* sender);

  void WMDeviceChange(uintptr_t wparam);
  void WMTimer(uintptr_t wparam);
  void CheckFirmwareStatus();

  bool HandleMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) override;
  void ProcessMessages() override;

  tk::Window& window() { return *window_; }
  // Read-only views for the front ends and tests.
  const char* DeviceTableEntry(int index) const {
    if (index < 0 || index >= kDeviceTableEntries) return "";
    return device_table_[static_cast<std::size_t>(index)].data();
  }
  uint8_t bridge_model_code() const { return bridge_model_code_; }
  int32_t disk_count() const { return disk_count_; }
  int refreshes() const { return refreshes_; }

 private:
  void RegisterUsbNotification();
  // A copy: a refresh run from a message box or message processing may rewrite the table.
  std::string SelectedDevicePath() const;
  // The two ends of an update: the power-cycle request (also shown while a bridge updated by this
  // run waits for its power cycle), or the failure.
  void ShowStatus(const Screen& screen);
  void ShowUpdated(const Screen& screen);
  void ShowUpdateFailed(const Screen& screen);

  tk::Application& application_;
  std::unique_ptr<tk::Window> window_;
  RequestLog* log_ = nullptr;

  void* DeviceNotifyHandle = nullptr;
  std::array<std::array<char, kDeviceTableEntrySize>, kDeviceTableEntries> device_table_{};
  uint8_t bridge_model_code_ = 0;
  int32_t disk_count_ = 0;

  int refreshes_ = 0;
  // A refresh that fell due while the Update command ran; it runs once the update has ended.
  bool refresh_deferred_ = false;
  bool updating_ = false;
  // The bridge of a failed update while the refresh deferred during it runs; empty otherwise.
  std::string failed_path_;
  // Bridges updated (by this window, or by any run that shares its record file) that have not
  // yet been powered off and on.
  PowerCycleWatch power_cycles_;
  // What the last status check read, and the selected disk's INQUIRY identification: the
  // bridge as it was just before an update.
  DeviceStatus last_status_;
  std::string selected_identification_;
};

}  // namespace qvb
