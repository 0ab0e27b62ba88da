// The main window on the headless toolkit, with a virtual bridge behind the device seams and the
// fake system services (simulated pauses, recorded message boxes).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/tform1.h"
#include "app/toolkit/headless/headless_toolkit.h"
#include "tests/support/fake_system.h"
#include "virtual_bridge/virtual_bridge.h"
#include "virtual_bridge/virtual_devices.h"

namespace qvb::testing {

inline std::string UsbPath(int n) {
  return "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#000" + std::to_string(n) +
         "&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

class WindowRig : public ::testing::Test {
 protected:
  WindowRig() { UpdateBusy = 0; }
  ~WindowRig() override {
    form_.reset();
    UpdateBusy = 0;
  }

  void Attach(const virt::DeviceModel& model) { bridge.devices().push_back(model); }
  void AttachQvb886(int n, std::array<uint8_t, 4> version) {
    Attach(virt::MakeQvb886(UsbPath(n), version));
  }

  // Constructs the main window (the refresh runs), then its creation event.
  TForm1& Start() {
    form_.reset();
    form_ = std::make_unique<TForm1>(app, "", log);
    auto& window = static_cast<tk::headless::HeadlessWindow&>(form_->window());
    window.registration_fails = registration_fails;
    form_->FormCreate(form_.get());
    window_ = &window;
    return *form_;
  }

  tk::headless::HeadlessWindow& Window() { return *window_; }
  void Post(uint32_t message, uintptr_t wparam) { app.PostToMain(message, wparam); }

  std::vector<std::string> Lines() const {
    return {form_->pnl_Descript_1->Text(), form_->pnl_Descript_2->Text(),
            form_->pnl_Descript_3->Text(), form_->pnl_Descript_4->Text(),
            form_->pnl_Descript_5->Text()};
  }
  std::vector<std::string> ListItems() const {
    std::vector<std::string> items;
    for (int i = 0; i < form_->cbb_DeviceList->Count(); ++i)
      items.push_back(form_->cbb_DeviceList->Item(i));
    return items;
  }

  virt::VirtualDevices devices;
  virt::VirtualBridge& bridge = devices.bridge();
  FakeSystem system;
  tk::headless::HeadlessApplication app;
  std::unique_ptr<TForm1> form_;
  bool registration_fails = false;
  RequestLog* log = nullptr;  // where the window logs its steps, if anywhere

 private:
  tk::headless::HeadlessWindow* window_ = nullptr;
};

}  // namespace qvb::testing
