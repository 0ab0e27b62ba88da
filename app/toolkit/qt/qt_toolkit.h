// The toolkit on Qt 6 Widgets, for the Linux desktop: the main window with its panels, push
// buttons and combo box made from the layout table, window timers by identifier delivered as
// WM_TIMER, hot-plug codes from udev delivered as WM_DEVICECHANGE, message boxes as QMessageBox,
// and a message loop that ends when the main window closes.
//
// Texts cross the toolkit as 8-bit text and are taken as Latin-1 (the Windows program's code
// page for these texts), so that every byte a device reports comes back unchanged; only the
// layout's font faces are UTF-8.
#pragma once

#include <QFont>
#include <QWidget>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/toolkit/qt/device_events.h"
#include "app/toolkit/toolkit.h"
#include "device/seams.h"
#include "device/system_services.h"

class QApplication;

namespace qvb::tk::qt {

// MessageBoxA's button sets and results beyond the few the logic names.
constexpr uint32_t kMbOkCancel = 0x0001;
constexpr uint32_t kMbYesNoCancel = 0x0003;
constexpr uint32_t kMbYesNo = 0x0004;
constexpr uint32_t kMbIconQuestion = 0x0020;
constexpr uint32_t kMbIconInformation = 0x0040;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// The desktop entry the windows belong to (the taskbar takes name and icon from it).
constexpr const char* kDesktopFileName = "qvb886-fwupdate-gui";
// The icon's name in the desktop's icon theme.
constexpr const char* kIconName = "qvb886-fwupdate";

// A message box with no owner window, application-modal, with the icon and buttons of the
// MessageBoxA flags; returns the MessageBoxA result of the button pressed.
int ShowMessageBox(const std::string& text, const std::string& caption, uint32_t flags);

// The font of a layout font kind: the face as the layout names it, then faces that stand in
// for it on a Linux desktop (a CJK-capable one for the line font), at the layout's pixel
// height, with the given style bits.
QFont MakeFont(const FontLayout& font, FontKind kind, uint8_t styles);

// Message boxes as QMessageBox; everything else goes to the services that were in place.
class QtSystemServices : public ForwardingSystemServices {
 public:
  explicit QtSystemServices(SystemServices& rest) : ForwardingSystemServices(rest) {}
  int MessageBox(const char* text, const char* caption, uint32_t flags) override {
    return ShowMessageBox(text ? text : "", caption ? caption : "", flags);
  }
};

class QtApplication;
class QtWindow;

// The form itself: routes timer and close events to the window.
class FormWidget : public QWidget {
 public:
  explicit FormWidget(QtWindow& window);

 protected:
  void timerEvent(QTimerEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QtWindow& window_;
};

class QtWindow : public Window {
 public:
  QtWindow(QtApplication& application, const FormLayout& layout);
  ~QtWindow() override;
  QtWindow(const QtWindow&) = delete;
  QtWindow& operator=(const QtWindow&) = delete;

  Control* Find(const char* name) override;
  void SetCaption(const std::string& caption) override;
  std::string Caption() const override { return caption_; }
  void SetMessageHandler(MessageHandler* handler) override { handler_ = handler; }
  void Close() override;
  void SetTimer(uintptr_t id, uint32_t milliseconds) override;
  void KillTimer(uintptr_t id) override;
  // Only the USB device-interface filter with window-handle delivery is taken: its source is
  // the application's device-event source (udev). Null when that cannot be had.
  void* RegisterDeviceNotification(const DeviceInterfaceFilter& filter, uint32_t flags) override;
  void UnregisterDeviceNotification(void* handle) override;

  // Delivers a message as the system would: the handler first; WM_CLOSE, unhandled, closes.
  // An exception from the handler is shown by the application's exception display.
  bool Deliver(uint32_t message, uintptr_t wparam, intptr_t lparam = 0);
  // Places the window at the centre of the screen (the first time) and shows it.
  void ShowCentred();

  QWidget& widget() { return *widget_; }
  // The Qt widget of a control of the layout; null for a name that is not in it.
  QWidget* ControlWidget(const char* name);
  bool TimerArmed(uintptr_t id) const { return timers_.count(id) != 0; }
  std::size_t registrations() const { return sources_.size(); }

 private:
  friend class FormWidget;
  friend class QtApplication;
  void TimerFired(int qt_timer);
  void CreateControls();

  QtApplication& application_;
  const FormLayout& layout_;
  std::string caption_;
  MessageHandler* handler_ = nullptr;
  bool centred_ = false;
  std::unique_ptr<FormWidget> widget_;
  std::vector<std::unique_ptr<Control>> controls_;  // views of the widget's children
  std::map<uintptr_t, int> timers_;                 // identifier -> Qt timer
  std::map<void*, std::unique_ptr<DeviceEventSource>> sources_;
};

class QtApplication : public Application {
 public:
  // `program` is the program name the Qt application is made with, when there is none yet;
  // no other argument reaches Qt (the program reads no command line).
  explicit QtApplication(const char* program = "qvb886-fwupdate-gui");
  ~QtApplication() override;
  QtApplication(const QtApplication&) = delete;
  QtApplication& operator=(const QtApplication&) = delete;

  // Makes the Qt application unless one exists, and installs the message boxes.
  void Initialize() override;
  void SetTitle(const std::string& title) override { title_ = title; }
  std::string Title() const override { return title_; }
  std::unique_ptr<Window> CreateMainWindow(const FormLayout& layout) override;
  void Run(Window& main_window) override;
  void ProcessMessages() override;
  void ShowException(const std::string& message) override;

  // The exception display of a handler that threw inside the event loop: Qt cannot pass an
  // exception through its own frames, so it is shown where it is caught, and the loop goes on.
  void HandleException();
  // The source each device-notification registration gets; by default a udev monitor.
  void set_device_event_source_factory(DeviceEventSourceFactory factory) {
    factory_ = std::move(factory);
  }
  QtWindow* main_window() const { return main_; }
  // Set once the main window has closed; the loop then ends.
  bool terminated() const { return terminated_; }
  void Terminate();

 private:
  friend class QtWindow;
  std::string program_;
  int argc_ = 1;
  char* argv_[2] = {nullptr, nullptr};
  std::unique_ptr<QApplication> owned_;
  std::unique_ptr<QtSystemServices> services_;
  std::unique_ptr<ScopedSeams> services_installed_;
  std::string title_;
  QtWindow* main_ = nullptr;
  bool running_ = false;
  bool terminated_ = false;
  DeviceEventSourceFactory factory_;
};

}  // namespace qvb::tk::qt
