// The small window toolkit the main window is written against: an application object, a form
// window whose controls are made from a layout table, panels, push buttons, a combo box, window
// timers by identifier and the device-change registration. Message boxes go through
// SystemServices. Implementations: win32/ (the shipped program), qt/ (Linux), headless/ (tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace qvb::tk {

// Font styles, as a bit set.
constexpr uint8_t kStyleBold = 0x01;
constexpr uint8_t kStyleItalic = 0x02;
constexpr uint8_t kStyleUnderline = 0x04;
constexpr uint8_t kStyleStrikeOut = 0x08;
// The toolkit's colour value for the system colour "window text" (index 8).
constexpr uint32_t kClWindowText = 0x80000008;

// Window messages the main window handles itself.
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmTimer = 0x0113;
constexpr uint32_t kWmDeviceChange = 0x0219;
constexpr uintptr_t kDbtDevNodesChanged = 0x0007;
constexpr uintptr_t kDbtDeviceArrival = 0x8000;
constexpr uintptr_t kDbtDeviceRemoveComplete = 0x8004;

enum class ControlKind { Panel, Button, ComboBox };
enum class FontKind { Window, Line };

struct FontLayout {
  const char* face_utf8;
  int height_px;
  int charset;  // DEFAULT_CHARSET 1, ANSI_CHARSET 0
};

struct ControlLayout {
  const char* name;
  ControlKind kind;
  int left, top, width, height;
  const char* caption;
  FontKind font;
  bool visible;
  int tab_order;
};

struct FormLayout {
  const char* caption;
  int client_width, client_height;
  FontLayout window_font;
  FontLayout line_font;
  int combo_item_height;
  const ControlLayout* controls;
  std::size_t control_count;
};

// The main window's layout; one table for every toolkit.
const FormLayout& MainFormLayout();

class Control {
 public:
  virtual ~Control() = default;
  virtual const ControlLayout& layout() const = 0;
  virtual void SetText(const std::string& text) = 0;
  virtual std::string Text() const = 0;
  virtual void SetVisible(bool visible) = 0;
  virtual bool Visible() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
};

class Panel : public Control {
 public:
  virtual void SetFontStyle(uint8_t styles) = 0;
  virtual uint8_t FontStyle() const = 0;
  virtual void SetFontColor(uint32_t color) = 0;
  virtual uint32_t FontColor() const = 0;
};

class Button : public Control {
 public:
  // Bound once by the form; run when the user clicks the button.
  virtual void SetOnClick(std::function<void()> handler) = 0;
};

class ComboBox : public Control {
 public:
  virtual void Clear() = 0;
  virtual void AddItem(const std::string& text) = 0;
  virtual int Count() const = 0;
  virtual std::string Item(int index) const = 0;
  virtual void SetItemIndex(int index) = 0;
  virtual int ItemIndex() const = 0;
};

// The filter record of the USB device-interface notification registration (32 bytes on Windows:
// size, device type, reserved, class GUID).
struct DeviceInterfaceFilter {
  uint32_t size = 32;
  uint32_t device_type = 5;  // DBT_DEVTYP_DEVICEINTERFACE
  uint32_t reserved = 0;
  uint32_t guid_data1 = 0xA5DCBF10;  // GUID_DEVINTERFACE_USB_DEVICE
  uint16_t guid_data2 = 0x6530;
  uint16_t guid_data3 = 0x11D2;
  uint8_t guid_data4[8] = {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED};
};

// Receives the window's messages before the toolkit's default handling. Returns true when the
// message was handled (it is then not passed on, and its result stays 0).
class MessageHandler {
 public:
  virtual ~MessageHandler() = default;
  virtual bool HandleMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
};

class Window {
 public:
  virtual ~Window() = default;
  // The control made from the layout row of that name; owned by the window.
  virtual Control* Find(const char* name) = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual std::string Caption() const = 0;
  virtual void SetMessageHandler(MessageHandler* handler) = 0;
  // Closes the window; as the main window this ends the message loop.
  virtual void Close() = 0;
  virtual void SetTimer(uintptr_t id, uint32_t milliseconds) = 0;
  virtual void KillTimer(uintptr_t id) = 0;
  // Registers for device-interface notifications; null on failure.
  virtual void* RegisterDeviceNotification(const DeviceInterfaceFilter& filter, uint32_t flags) = 0;
  virtual void UnregisterDeviceNotification(void* handle) = 0;
};

// The toolkit's own exception class; its message is what the exception display shows.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

class Application {
 public:
  virtual ~Application() = default;
  virtual void Initialize() = 0;
  virtual void SetTitle(const std::string& title) = 0;
  virtual std::string Title() const = 0;
  // Builds the main window and its controls from the layout; not yet shown.
  virtual std::unique_ptr<Window> CreateMainWindow(const FormLayout& layout) = 0;
  // Shows the main window (centred on the desktop) and runs the message loop until it closes.
  virtual void Run(Window& main_window) = 0;
  // Handles the messages that are waiting, then returns.
  virtual void ProcessMessages() = 0;
  // The standard exception display: a message box captioned with the title, error icon, OK.
  virtual void ShowException(const std::string& message) = 0;
};

// The exception display's text: a full stop is appended when the message is not empty and its
// last character sorts above the full stop.
std::string ExceptionDisplayText(const std::string& message);

}  // namespace qvb::tk
