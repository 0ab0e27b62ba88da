// The main window's life: construction, registration, hot-plug and timer messages, Exit.
#include "app/tform1.h"

#include <stdexcept>

namespace qvb {

int32_t UpdateBusy = 0;

namespace {

template <typename T>
T* Control(tk::Window& window, const char* name) {
  auto* control = dynamic_cast<T*>(window.Find(name));
  if (!control) throw tk::Exception(std::string("Control not found: ") + name);
  return control;
}

constexpr const char* kCaption = "Harlowen FW Update Utility v133.01.00.06";

}  // namespace

namespace {

PowerCycleWatch WatchFor(const std::string& waiting_file) {
  if (waiting_file.empty()) return PowerCycleWatch();
  return PowerCycleWatch(std::make_unique<WaitingRecordStore>(waiting_file));
}

}  // namespace

TForm1::TForm1(tk::Application& application, const std::string& waiting_file, RequestLog* log)
    : application_(application),
      window_(application.CreateMainWindow(tk::MainFormLayout())),
      log_(log),
      power_cycles_(WatchFor(waiting_file)) {
  btn_Refresh = Control<tk::Button>(*window_, "btn_Refresh");
  cbb_DeviceList = Control<tk::ComboBox>(*window_, "cbb_DeviceList");
  pnl_Descript_2 = Control<tk::Panel>(*window_, "pnl_Descript_2");
  pnl_Descript_1 = Control<tk::Panel>(*window_, "pnl_Descript_1");
  btn_Exit = Control<tk::Button>(*window_, "btn_Exit");
  pnl_Descript_3 = Control<tk::Panel>(*window_, "pnl_Descript_3");
  btn_upd = Control<tk::Button>(*window_, "btn_upd");
  pnl_Descript_4 = Control<tk::Panel>(*window_, "pnl_Descript_4");
  pnl_Descript_5 = Control<tk::Panel>(*window_, "pnl_Descript_5");

  btn_Refresh->SetOnClick([this] { btn_RefreshClick(btn_Refresh); });
  btn_upd->SetOnClick([this] { btn_updClick(btn_upd); });
  btn_Exit->SetOnClick([this] { btn_ExitClick(btn_Exit); });
  window_->SetMessageHandler(this);

  btn_RefreshClick(btn_Refresh);
}

TForm1::~TForm1() {
  window_->UnregisterDeviceNotification(DeviceNotifyHandle);
  window_->SetMessageHandler(nullptr);
}

void TForm1::FormCreate(void*) {
  RegisterUsbNotification();
  window_->SetCaption(kCaption);
}

void TForm1::RegisterUsbNotification() {
  const tk::DeviceInterfaceFilter filter;  // USB device interfaces
  constexpr uint32_t kDeviceNotifyWindowHandle = 0;
  // The result is not examined: without it the window still gets the devices-changed event.
  DeviceNotifyHandle = window_->RegisterDeviceNotification(filter, kDeviceNotifyWindowHandle);
}

bool TForm1::HandleMessage(uint32_t message, uintptr_t wparam, intptr_t) {
  if (message == tk::kWmTimer) {
    WMTimer(wparam);
    return true;
  }
  if (message == tk::kWmDeviceChange) {
    WMDeviceChange(wparam);
    return true;
  }
  return false;
}

void TForm1::WMDeviceChange(uintptr_t wparam) {
  if (wparam != tk::kDbtDeviceRemoveComplete && wparam != tk::kDbtDevNodesChanged) return;
  if (wparam == tk::kDbtDeviceRemoveComplete) UpdateBusy = 0;
  if (UpdateBusy != 0) return;
  window_->KillTimer(kRefreshTimerId);
  window_->SetTimer(kRefreshTimerId, kRefreshTimerMs);
}

void TForm1::WMTimer(uintptr_t wparam) {
  if (wparam != kRefreshTimerId) return;
  window_->KillTimer(kRefreshTimerId);
  if (updating_) {
    // Commands to a bridge being written could break its update: wait until it has ended.
    refresh_deferred_ = true;
    return;
  }
  btn_RefreshClick(btn_Refresh);
}

void TForm1::btn_ExitClick(void*) {
  window_->Close();
}

void TForm1::ProcessMessages() {
  application_.ProcessMessages();
}

std::string TForm1::SelectedDevicePath() const {
  const int index = cbb_DeviceList->ItemIndex();
  // The list is hidden and the refresh always selects line 0; guard the table all the same.
  const int entry = index >= 0 && index < kDeviceTableEntries ? index : 0;
  return device_table_[static_cast<std::size_t>(entry)].data();
}

}  // namespace qvb
