// The toolkit on plain Win32, in the shape of the classic form toolkit: a hidden application
// window that carries the title and the taskbar button and owns the main window; the main
// window with its panels, push buttons and combo box made from the layout table; window timers;
// device-interface notifications; a message loop that ends when the main window closes.
#pragma once

#include <windows.h>
// The interface's method name is also the system headers' A/W macro.
#undef RegisterDeviceNotification

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/toolkit/toolkit.h"

namespace qvb::tk::win32 {

// Window classes, named as the classic toolkit names them.
constexpr const char* kApplicationClass = "TApplication";
constexpr const char* kFormClass = "TForm1";
constexpr const char* kPanelClass = "TPanel";

// Owns one GDI object.
class GdiObject {
 public:
  explicit GdiObject(HGDIOBJ object = nullptr) : object_(object) {}
  ~GdiObject() {
    if (object_) DeleteObject(object_);
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  HGDIOBJ get() const { return object_; }

 private:
  HGDIOBJ object_;
};

// Owns one window; destroys it with the object.
class WindowHandle {
 public:
  explicit WindowHandle(HWND window = nullptr) : window_(window) {}
  ~WindowHandle() { reset(); }
  WindowHandle(const WindowHandle&) = delete;
  WindowHandle& operator=(const WindowHandle&) = delete;
  HWND get() const { return window_; }
  void reset(HWND window = nullptr) {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
    window_ = window;
  }

 private:
  HWND window_;
};

// The Win32 side of every control: its window.
class Win32Control {
 public:
  virtual ~Win32Control() = default;
  virtual HWND handle() const = 0;
};

class Win32Application;

class Win32Window : public Window {
 public:
  Win32Window(Win32Application& application, const FormLayout& layout);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  Control* Find(const char* name) override;
  void SetCaption(const std::string& caption) override;
  std::string Caption() const override { return caption_; }
  void SetMessageHandler(MessageHandler* handler) override { handler_ = handler; }
  void Close() override;
  void SetTimer(uintptr_t id, uint32_t milliseconds) override;
  void KillTimer(uintptr_t id) override;
  void* RegisterDeviceNotification(const DeviceInterfaceFilter& filter, uint32_t flags) override;
  void UnregisterDeviceNotification(void* handle) override;

  HWND handle() const { return window_.get(); }
  // Places the window at the centre of the desktop and shows it (the first time only centres).
  void ShowCentred();
  // The font of a layout font kind with the given style bits; made on first use, owned here.
  HFONT Font(FontKind kind, uint8_t styles);

 private:
  friend class Win32Application;
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void CreateControls();

  Win32Application& application_;
  const FormLayout& layout_;
  std::string caption_;
  MessageHandler* handler_ = nullptr;
  bool centred_ = false;
  HFONT font_ = nullptr;
  // Fonts outlive the controls that use them: declared before the windows.
  std::map<std::pair<FontKind, uint8_t>, std::unique_ptr<GdiObject>> fonts_;
  WindowHandle window_;
  std::vector<std::unique_ptr<Control>> controls_;
};

class Win32Application : public Application {
 public:
  Win32Application();
  ~Win32Application() override;
  Win32Application(const Win32Application&) = delete;
  Win32Application& operator=(const Win32Application&) = delete;

  void Initialize() override;
  void SetTitle(const std::string& title) override;
  std::string Title() const override { return title_; }
  std::unique_ptr<Window> CreateMainWindow(const FormLayout& layout) override;
  void Run(Window& main_window) override;
  void ProcessMessages() override;
  void ShowException(const std::string& message) override;

  HWND handle() const { return window_.get(); }
  Win32Window* main_window() const { return main_; }
  // Set once the main window has closed (or a quit message arrived); the loop then ends.
  bool terminated() const { return terminated_; }
  void Terminate();
  // Minimising the form minimises the application window and hides the form with it;
  // restoring the application window shows the form again.
  void Minimize();
  void Restore();

  // The exception display of a handler that threw inside a window procedure: the exception
  // cannot unwind through the system's frames, so it is shown where it is caught.
  void HandleException();

 private:
  friend class Win32Window;
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void Dispatch(MSG& message);

  std::string title_;
  WindowHandle window_;
  Win32Window* main_ = nullptr;
  bool terminated_ = false;
  bool form_minimised_ = false;
};

// The font a control draws with (WM_GETFONT, which the panels answer too).
HFONT ControlFont(HWND control);
// Converts the toolkit's colour value (a system colour index with the high bit set, or an RGB
// value) to the colour the system draws with.
COLORREF ColorToRgb(uint32_t color);

}  // namespace qvb::tk::win32
