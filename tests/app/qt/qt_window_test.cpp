// The main window on the Qt toolkit with virtual bridges behind the device seams: what it shows
// after each refresh outcome and each end of the Update command, the warning box, hot-plug
// from recorded udev sequences, Exit. Each state is saved as a screenshot.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/tform1.h"
#include "app/toolkit/qt/qt_toolkit.h"
#include "tests/app/qt/qt_test_support.h"
#include "tests/support/fake_system.h"
#include "virtual_bridge/virtual_bridge.h"
#include "virtual_bridge/virtual_devices.h"

namespace qvb {
namespace {

using Texts = std::vector<std::string>;
using testing::BoxAnswerer;
using testing::HandFiredSource;
using testing::SaveScreenshot;
using testing::WaitUntil;

std::string UsbPath(int n) {
  return "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#000" + std::to_string(n) +
         "&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

class QtWindowTest : public ::testing::Test {
 protected:
  QtWindowTest() {
    UpdateBusy = 0;
    app.set_device_event_source_factory([this](tk::qt::DeviceEventSink sink) {
      return std::make_unique<HandFiredSource>(std::move(sink), sources);
    });
  }
  ~QtWindowTest() override {
    form.reset();
    UpdateBusy = 0;
  }

  void AttachQvb886(int n, std::array<uint8_t, 4> version) {
    auto model = virt::MakeQvb886(UsbPath(n), version);
    virt::SetInquiryText(model, "Quorvel", "QVB886 NVMe");
    bridge.devices().push_back(model);
  }
  // As the program starts: construction (the refresh), the creation event, then shown.
  TForm1& Start() {
    form = std::make_unique<TForm1>(app);
    form->FormCreate(form.get());
    Window().ShowCentred();
    return *form;
  }
  tk::qt::QtWindow& Window() { return static_cast<tk::qt::QtWindow&>(form->window()); }
  template <class W>
  W* WidgetOf(const char* name) {
    return qobject_cast<W*>(Window().ControlWidget(name));
  }
  Texts Lines() const {
    return {form->pnl_Descript_1->Text(), form->pnl_Descript_2->Text(),
            form->pnl_Descript_3->Text(), form->pnl_Descript_4->Text(),
            form->pnl_Descript_5->Text()};
  }
  // What a person sees: the label texts and the buttons on the screen.
  Texts Shown() {
    Texts texts;
    for (const char* name :
         {"pnl_Descript_1", "pnl_Descript_2", "pnl_Descript_3", "pnl_Descript_4", "pnl_Descript_5"})
      texts.push_back(WidgetOf<QLabel>(name)->text().toStdString());
    return texts;
  }
  bool OnScreen(const char* name) { return Window().ControlWidget(name)->isVisible(); }
  void Shot(const std::string& name) {
    QCoreApplication::processEvents();
    SaveScreenshot(Window().widget(), name);
  }

  virt::VirtualDevices devices;
  virt::VirtualBridge& bridge = devices.bridge();
  testing::FakeSystem system;
  std::vector<HandFiredSource*> sources;
  tk::qt::QtApplication app;
  std::unique_ptr<TForm1> form;

 private:
};

TEST_F(QtWindowTest, NoDevice) {
  BoxAnswerer answerer;
  Start();
  EXPECT_EQ("Harlowen FW Update Utility v133.01.00.06",
            Window().widget().windowTitle().toStdString());
  const Texts expected = {"", "", "No compatible USB device were found.",
                          "Please plug a compatible USB device.", ""};
  EXPECT_EQ(expected, Lines());
  EXPECT_EQ(expected, Shown());
  EXPECT_FALSE(OnScreen("btn_upd"));
  EXPECT_FALSE(OnScreen("btn_Exit"));
  EXPECT_FALSE(OnScreen("cbb_DeviceList"));
  EXPECT_FALSE(OnScreen("btn_Refresh"));
  auto* list = WidgetOf<QComboBox>("cbb_DeviceList");
  EXPECT_EQ(1, list->count());
  EXPECT_EQ(QStringLiteral("No available device!!!"), list->currentText());
  EXPECT_FALSE(list->isEnabled());
  EXPECT_TRUE(answerer.seen.empty());
  EXPECT_EQ(1u, sources.size());  // registered at FormCreate
  Shot("no-device");
}

TEST_F(QtWindowTest, OneDeviceInEachFirmwareState) {
  struct Case {
    std::array<uint8_t, 4> version;
    const char* line3;
    const char* line4;
    bool update_offered;
    bool exit_shown;
    const char* screenshot;
  };
  const Case cases[] = {
      {{133, 1, 0, 3},
       "Firmware version: 133.01.00.03",
       "Status: Update required",
       true,
       false,
       "update-required"},
      {{133, 1, 0, 6},
       "Firmware version: 133.01.00.06",
       "Status: Up to date",
       false,
       true,
       "up-to-date"},
      {{133, 1, 0, 7},
       "Firmware version: 133.01.00.07",
       "Status: Not support FW update",
       false,
       false,
       "not-supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.screenshot);
    form.reset();
    bridge.devices().clear();
    AttachQvb886(1, c.version);
    BoxAnswerer answerer;
    Start();
    EXPECT_EQ((Texts{"", "", c.line3, c.line4, ""}), Shown());
    EXPECT_EQ(c.update_offered, OnScreen("btn_upd"));
    EXPECT_EQ(c.update_offered, WidgetOf<QPushButton>("btn_upd")->isEnabled());
    EXPECT_EQ(c.exit_shown, OnScreen("btn_Exit"));
    EXPECT_EQ(QStringLiteral("<<USB>> Quorvel QVB886 NVMe     "),
              WidgetOf<QComboBox>("cbb_DeviceList")->itemText(0));
    EXPECT_TRUE(answerer.seen.empty());
    Shot(c.screenshot);
  }
}

TEST_F(QtWindowTest, SeveralDevicesGiveTheWarningBoxBeforeTheWindowIsShown) {
  AttachQvb886(1, {133, 1, 0, 3});
  AttachQvb886(2, {133, 1, 0, 6});
  BoxAnswerer answerer;
  bool window_shown_during_box = true;
  answerer.on_box = [&](QMessageBox& box) {
    window_shown_during_box = form && Window().widget().isVisible();
    SaveScreenshot(box, "multiple-devices-box");
  };
  Start();
  ASSERT_EQ(1u, answerer.seen.size());
  const auto& box = answerer.seen[0];
  EXPECT_EQ("Warning", box.title);
  EXPECT_EQ(
      "Multiple USB drives are attached.\nPlease disconnect all devices\nexcept the one that "
      "needs to be updated.",
      box.text);
  EXPECT_EQ(QMessageBox::Warning, box.icon);
  EXPECT_EQ(QMessageBox::StandardButtons(QMessageBox::Ok), box.buttons);
  EXPECT_FALSE(box.has_parent);
  EXPECT_FALSE(window_shown_during_box);
  EXPECT_EQ((Texts{"", "Multiple USB drives are attached.", "Please disconnect all devices.",
                   "except the one that needs to be updated.", ""}),
            Shown());
  EXPECT_FALSE(OnScreen("btn_upd"));
  EXPECT_FALSE(OnScreen("btn_Exit"));
  EXPECT_EQ(2, WidgetOf<QComboBox>("cbb_DeviceList")->count());
  Shot("multiple-devices");
}

TEST_F(QtWindowTest, UpdateSucceeds) {
  AttachQvb886(1, {133, 1, 0, 3});
  Start();
  Texts during;
  bool exit_enabled_during = true;
  // Runs at the command's first message processing, as a paint would.
  QTimer::singleShot(0, [&] {
    during = Shown();
    exit_enabled_during = WidgetOf<QPushButton>("btn_Exit")->isEnabled();
    Shot("updating");
  });
  WidgetOf<QPushButton>("btn_upd")->click();
  EXPECT_EQ(
      (Texts{"", "DO NOT disconnect the device during the FW update.", "", "Updating....", ""}),
      during);
  EXPECT_FALSE(exit_enabled_during);
  EXPECT_EQ((Texts{"", "Please power off/on your USB device", "", "Successfully updated.", ""}),
            Shown());
  EXPECT_FALSE(OnScreen("btn_upd"));
  EXPECT_TRUE(OnScreen("btn_Exit"));
  EXPECT_TRUE(WidgetOf<QPushButton>("btn_Exit")->isEnabled());
  EXPECT_EQ(0, UpdateBusy);
  EXPECT_EQ(std::vector<std::string>{"btn_upd Press\n"}, system.debug);
  Shot("updated");
}

TEST_F(QtWindowTest, UpdateFails) {
  AttachQvb886(1, {133, 1, 0, 3});
  Start();
  virt::Fault fault;
  fault.command = "write_buffer";
  bridge.AddFault(fault);
  WidgetOf<QPushButton>("btn_upd")->click();
  EXPECT_EQ((Texts{"", "", "Update Fail!", "Updating....", ""}), Shown());
  EXPECT_TRUE(OnScreen("btn_upd"));
  EXPECT_FALSE(WidgetOf<QPushButton>("btn_upd")->isEnabled());
  EXPECT_FALSE(OnScreen("btn_Exit"));
  EXPECT_TRUE(WidgetOf<QPushButton>("btn_Exit")->isEnabled());
  EXPECT_EQ(0, UpdateBusy);
  Shot("update-failed");
}

TEST_F(QtWindowTest, APlugInRefreshesOnceAfterTheBurst) {
  Start();
  ASSERT_EQ(1u, sources.size());
  EXPECT_EQ(1, form->refreshes());
  AttachQvb886(1, {133, 1, 0, 3});
  sources[0]->Replay("usb-storage-plug.txt");
  EXPECT_TRUE(Window().TimerArmed(kRefreshTimerId));
  EXPECT_EQ(1, form->refreshes());  // not before the timer
  ASSERT_TRUE(WaitUntil([&] { return form->refreshes() == 2; }));
  EXPECT_FALSE(Window().TimerArmed(kRefreshTimerId));  // one-shot: nothing more follows
  EXPECT_EQ("Status: Update required", form->pnl_Descript_4->Text());
  EXPECT_TRUE(OnScreen("btn_upd"));
}

TEST_F(QtWindowTest, AnUnplugDuringAnUpdateClearsTheBusyFlagAndArmsTheRefresh) {
  AttachQvb886(1, {133, 1, 0, 3});
  Start();
  UpdateBusy = 1;  // as while the Update command runs
  sources[0]->Replay("usb-storage-plug.txt");
  EXPECT_FALSE(Window().TimerArmed(kRefreshTimerId));  // devices-changed alone is ignored
  sources[0]->Replay("usb-storage-unplug.txt");
  EXPECT_EQ(0, UpdateBusy);
  EXPECT_TRUE(Window().TimerArmed(kRefreshTimerId));
  Window().KillTimer(kRefreshTimerId);
}

TEST_F(QtWindowTest, ExitEndsTheLoopAndTheRegistrationIsReleased) {
  AttachQvb886(1, {133, 1, 0, 6});
  form = std::make_unique<TForm1>(app);
  form->FormCreate(form.get());
  ASSERT_EQ(1u, sources.size());
  QTimer::singleShot(0, [&] { WidgetOf<QPushButton>("btn_Exit")->click(); });
  app.Run(form->window());
  EXPECT_TRUE(app.terminated());
  form.reset();
  EXPECT_TRUE(sources.empty());
}

}  // namespace
}  // namespace qvb
