#include "app/toolkit/win32/win32_toolkit.h"

#include <dbt.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace qvb::tk::win32 {
namespace {

// Application window: a zero-sized popup, as the classic toolkit makes it, so that it carries
// the taskbar button without being seen.
constexpr DWORD kApplicationStyle =
    WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX;
// Main window: single fixed border, system menu and minimise, no maximise, not resizable.
constexpr DWORD kFormStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPSIBLINGS;
constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT | WS_EX_WINDOWEDGE;
constexpr int kFirstControlId = 100;
// Lines the combo box's drop-down list shows before it scrolls.
constexpr int kDropDownCount = 8;

HINSTANCE Instance() {
  return GetModuleHandleA(nullptr);
}

HICON ApplicationIcon() {
  HICON icon = LoadIconA(Instance(), "MAINICON");
  return icon ? icon : LoadIconA(nullptr, IDI_APPLICATION);
}

std::wstring Utf8ToWide(const char* text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthA(window);
  if (length <= 0) return std::string();
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(copied, 0)));
  return text;
}

void RegisterWindowClass(const char* name, WNDPROC procedure, HBRUSH background, HICON icon) {
  WNDCLASSEXA window_class{};
  if (GetClassInfoExA(Instance(), name, &window_class)) return;
  window_class.cbSize = sizeof window_class;
  window_class.style = CS_DBLCLKS;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = Instance();
  window_class.hIcon = icon;
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = background;
  window_class.lpszClassName = name;
  RegisterClassExA(&window_class);
}

// The parts every control shares: its layout row and its window.
template <class Interface>
class ControlImpl : public Interface, public Win32Control {
 public:
  explicit ControlImpl(const ControlLayout& layout) : layout_(layout) {}
  HWND handle() const override { return window_.get(); }
  void Attach(HWND window) { window_.reset(window); }

  const ControlLayout& layout() const override { return layout_; }
  void SetText(const std::string& text) override { SetWindowTextA(handle(), text.c_str()); }
  std::string Text() const override { return WindowText(handle()); }
  // The control's own visibility, as the toolkit's Visible property: true also while the form
  // itself is still hidden.
  void SetVisible(bool visible) override { ShowWindow(handle(), visible ? SW_SHOWNA : SW_HIDE); }
  bool Visible() const override { return (GetWindowLongA(handle(), GWL_STYLE) & WS_VISIBLE) != 0; }
  void SetEnabled(bool enabled) override { EnableWindow(handle(), enabled ? TRUE : FALSE); }
  bool Enabled() const override { return IsWindowEnabled(handle()) != FALSE; }

 private:
  const ControlLayout& layout_;
  WindowHandle window_;
};

class Win32Panel : public ControlImpl<Panel> {
 public:
  Win32Panel(const ControlLayout& layout, Win32Window& form)
      : ControlImpl<Panel>(layout), form_(form) {}

  void SetText(const std::string& text) override {
    SetWindowTextA(handle(), text.c_str());
    InvalidateRect(handle(), nullptr, TRUE);
  }
  void SetFontStyle(uint8_t styles) override {
    style_ = styles;
    SendMessageA(handle(), WM_SETFONT, reinterpret_cast<WPARAM>(form_.Font(layout().font, styles)),
                 TRUE);
  }
  uint8_t FontStyle() const override { return style_; }
  void SetFontColor(uint32_t color) override {
    color_ = color;
    InvalidateRect(handle(), nullptr, TRUE);
  }
  uint32_t FontColor() const override { return color_; }

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<Win32Panel*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
      SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    if (!self) return DefWindowProcA(window, message, wparam, lparam);
    switch (message) {
      case WM_SETFONT:
        self->font_ = reinterpret_cast<HFONT>(wparam);
        if (LOWORD(lparam)) InvalidateRect(window, nullptr, TRUE);
        return 0;
      case WM_GETFONT:
        return reinterpret_cast<LRESULT>(self->font_);
      case WM_SETTEXT: {
        const LRESULT result = DefWindowProcA(window, message, wparam, lparam);
        InvalidateRect(window, nullptr, TRUE);
        return result;
      }
      case WM_ERASEBKGND:
        return 1;  // WM_PAINT fills the whole panel
      case WM_PAINT:
        self->Paint();
        return 0;
      case WM_ENABLE:
        InvalidateRect(window, nullptr, TRUE);
        return 0;
      default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
  }

 private:
  // Flat, on the button face, the caption centred in both directions on one line.
  void Paint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(handle(), &paint);
    RECT client;
    GetClientRect(handle(), &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    const std::string text = Text();
    HGDIOBJ previous = SelectObject(dc, font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, IsWindowEnabled(handle()) ? ColorToRgb(color_) : GetSysColor(COLOR_GRAYTEXT));
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &client,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, previous);
    EndPaint(handle(), &paint);
  }

  Win32Window& form_;
  HFONT font_ = nullptr;
  uint8_t style_ = 0;
  uint32_t color_ = kClWindowText;
};

class Win32Button : public ControlImpl<Button> {
 public:
  using ControlImpl<Button>::ControlImpl;
  void SetOnClick(std::function<void()> handler) override { on_click_ = std::move(handler); }
  void Click() {
    if (on_click_) on_click_();
  }

 private:
  std::function<void()> on_click_;
};

class Win32ComboBox : public ControlImpl<ComboBox> {
 public:
  using ControlImpl<ComboBox>::ControlImpl;
  // A drop-down list shows the selected line as its text.
  void SetText(const std::string& text) override {
    SendMessageA(handle(), CB_SELECTSTRING, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(text.c_str()));
  }
  std::string Text() const override { return Item(ItemIndex()); }
  void Clear() override { SendMessageA(handle(), CB_RESETCONTENT, 0, 0); }
  void AddItem(const std::string& text) override {
    SendMessageA(handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  int Count() const override { return static_cast<int>(SendMessageA(handle(), CB_GETCOUNT, 0, 0)); }
  std::string Item(int index) const override {
    if (index < 0 || index >= Count()) return std::string();
    const LRESULT length = SendMessageA(handle(), CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) return std::string();
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT copied = SendMessageA(handle(), CB_GETLBTEXT, static_cast<WPARAM>(index),
                                        reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == CB_ERR ? 0 : static_cast<std::size_t>(copied));
    return text;
  }
  // An index outside the list clears the selection (the system would keep it on some hosts).
  void SetItemIndex(int index) override {
    if (index < 0 || index >= Count()) index = -1;
    SendMessageA(handle(), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  int ItemIndex() const override {
    return static_cast<int>(SendMessageA(handle(), CB_GETCURSEL, 0, 0));
  }

  // The closed combo box takes the layout's height; the list lines the item height.
  void FitHeight(int height, int item_height) {
    SendMessageA(handle(), CB_SETITEMHEIGHT, 0, item_height);
    RECT rect;
    GetWindowRect(handle(), &rect);
    const int field =
        static_cast<int>(SendMessageA(handle(), CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
    const int adjusted = field + height - (rect.bottom - rect.top);
    if (field > 0 && adjusted > 0 && adjusted != field)
      SendMessageA(handle(), CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), adjusted);
  }
};

}  // namespace

COLORREF ColorToRgb(uint32_t color) {
  if (color & 0x80000000u) return GetSysColor(static_cast<int>(color & 0xFF));
  return static_cast<COLORREF>(color & 0xFFFFFF);
}

HFONT ControlFont(HWND control) {
  return reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
}

// ---------------------------------------------------------------------------------------------
// Main window

Win32Window::Win32Window(Win32Application& application, const FormLayout& layout)
    : application_(application), layout_(layout), caption_(layout.caption) {
  RECT frame = {0, 0, layout.client_width, layout.client_height};
  AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
  HWND window = CreateWindowExA(kFormExStyle, kFormClass, layout.caption, kFormStyle, CW_USEDEFAULT,
                                CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                                application.handle(), nullptr, Instance(), this);
  if (!window) throw Exception("Error creating window");
  window_.reset(window);
  SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(Font(FontKind::Window, 0)), FALSE);
  CreateControls();
}

Win32Window::~Win32Window() {
  handler_ = nullptr;
  controls_.clear();  // the children go first, then the window, then the fonts
  window_.reset();
  if (application_.main_ == this) application_.main_ = nullptr;
}

void Win32Window::CreateControls() {
  // Created in tab order: the sibling order is the order keyboard focus moves in.
  std::vector<std::size_t> order(layout_.control_count);
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
    return layout_.controls[a].tab_order < layout_.controls[b].tab_order;
  });
  controls_.resize(layout_.control_count);
  for (const std::size_t index : order) {
    const ControlLayout& row = layout_.controls[index];
    const HMENU id = reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kFirstControlId + index));
    const DWORD visible = row.visible ? WS_VISIBLE : 0;
    HWND child = nullptr;
    switch (row.kind) {
      case ControlKind::Panel: {
        auto panel = std::make_unique<Win32Panel>(row, *this);
        child = CreateWindowExA(0, kPanelClass, row.caption, WS_CHILD | visible, row.left, row.top,
                                row.width, row.height, handle(), id, Instance(), panel.get());
        panel->Attach(child);
        controls_[index] = std::move(panel);
        break;
      }
      case ControlKind::Button: {
        auto button = std::make_unique<Win32Button>(row);
        child = CreateWindowExA(0, "BUTTON", row.caption,
                                WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON | visible, row.left, row.top,
                                row.width, row.height, handle(), id, Instance(), nullptr);
        button->Attach(child);
        controls_[index] = std::move(button);
        break;
      }
      case ControlKind::ComboBox: {
        auto combo = std::make_unique<Win32ComboBox>(row);
        const int list_height = layout_.combo_item_height * kDropDownCount + 2;
        child = CreateWindowExA(0, "COMBOBOX", "",
                                WS_CHILD | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | visible,
                                row.left, row.top, row.width, row.height + list_height, handle(),
                                id, Instance(), nullptr);
        combo->Attach(child);
        controls_[index] = std::move(combo);
        break;
      }
    }
    if (!child) throw Exception("Error creating window");
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(Font(row.font, 0)), FALSE);
    if (row.kind == ControlKind::ComboBox)
      static_cast<Win32ComboBox*>(controls_[index].get())
          ->FitHeight(row.height, layout_.combo_item_height);
  }
}

HFONT Win32Window::Font(FontKind kind, uint8_t styles) {
  auto& slot = fonts_[{kind, styles}];
  if (!slot) {
    const FontLayout& font = kind == FontKind::Line ? layout_.line_font : layout_.window_font;
    // The wide call: the face reaches the system as written, whatever the ANSI code page.
    const std::wstring face = Utf8ToWide(font.face_utf8);
    slot = std::make_unique<GdiObject>(CreateFontW(
        -font.height_px, 0, 0, 0, (styles & kStyleBold) ? FW_BOLD : FW_NORMAL,
        (styles & kStyleItalic) ? TRUE : FALSE, (styles & kStyleUnderline) ? TRUE : FALSE,
        (styles & kStyleStrikeOut) ? TRUE : FALSE, static_cast<DWORD>(font.charset),
        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
        face.c_str()));
  }
  if (!slot->get()) return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  return static_cast<HFONT>(slot->get());
}

Control* Win32Window::Find(const char* name) {
  for (auto& control : controls_)
    if (control && std::strcmp(control->layout().name, name) == 0) return control.get();
  return nullptr;
}

void Win32Window::SetCaption(const std::string& caption) {
  caption_ = caption;
  SetWindowTextA(handle(), caption.c_str());
}

void Win32Window::Close() {
  if (application_.main_ == this) {
    // The loop ends once the handler that closed the window has returned.
    application_.Terminate();
  } else {
    ShowWindow(handle(), SW_HIDE);
  }
}

void Win32Window::SetTimer(uintptr_t id, uint32_t milliseconds) {
  ::SetTimer(handle(), id, milliseconds, nullptr);
}

void Win32Window::KillTimer(uintptr_t id) {
  ::KillTimer(handle(), id);
}

void* Win32Window::RegisterDeviceNotification(const DeviceInterfaceFilter& filter, uint32_t flags) {
  static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32, "the 32-byte filter record");
  DEV_BROADCAST_DEVICEINTERFACE_A record{};
  record.dbcc_size = filter.size;
  record.dbcc_devicetype = filter.device_type;
  record.dbcc_reserved = filter.reserved;
  record.dbcc_classguid.Data1 = filter.guid_data1;
  record.dbcc_classguid.Data2 = filter.guid_data2;
  record.dbcc_classguid.Data3 = filter.guid_data3;
  std::memcpy(record.dbcc_classguid.Data4, filter.guid_data4, sizeof filter.guid_data4);
  return RegisterDeviceNotificationA(handle(), &record, flags);
}

void Win32Window::UnregisterDeviceNotification(void* handle) {
  // A failed registration is passed on as it is: the system refuses the null handle.
  ::UnregisterDeviceNotification(static_cast<HDEVNOTIFY>(handle));
}

void Win32Window::ShowCentred() {
  if (!centred_) {
    RECT rect;
    GetWindowRect(handle(), &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(handle(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    centred_ = true;
  }
  ShowWindow(handle(), SW_SHOWNORMAL);
  SetForegroundWindow(handle());
  UpdateWindow(handle());
}

LRESULT CALLBACK Win32Window::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!self || self->handle() != window) return DefWindowProcA(window, message, wparam, lparam);
  try {
    return self->Handle(message, wparam, lparam);
  } catch (...) {
    self->application_.HandleException();
    return 0;
  }
}

LRESULT Win32Window::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  // The form's own handlers come first; what they handle is not passed on, result 0.
  if (handler_ && handler_->HandleMessage(message, wparam, lparam)) return 0;
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED && lparam != 0) {
        for (auto& control : controls_) {
          auto* button = dynamic_cast<Win32Button*>(control.get());
          if (button && button->handle() == reinterpret_cast<HWND>(lparam)) {
            // A click sent to a hidden or disabled button (BM_CLICK from anywhere) is no click.
            if (button->Visible() && button->Enabled()) button->Click();
            return 0;
          }
        }
      }
      break;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_SETFONT:  // the window font, which the controls of the window font share
      font_ = reinterpret_cast<HFONT>(wparam);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    case WM_SYSCOMMAND:
      // Minimising the form minimises the application, which hides the form with it.
      if ((wparam & 0xFFF0) == SC_MINIMIZE && application_.main_ == this) {
        application_.Minimize();
        return 0;
      }
      break;
    case WM_SETFOCUS: {
      HWND first = GetNextDlgTabItem(handle(), nullptr, FALSE);
      if (first) SetFocus(first);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcA(handle(), message, wparam, lparam);
}

// ---------------------------------------------------------------------------------------------
// Application

Win32Application::Win32Application() = default;

Win32Application::~Win32Application() = default;

void Win32Application::Initialize() {
  if (window_.get()) return;
  const HICON icon = ApplicationIcon();
  RegisterWindowClass(kApplicationClass, &Win32Application::Procedure, nullptr, icon);
  RegisterWindowClass(kFormClass, &Win32Window::Procedure,
                      reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1)), icon);
  RegisterWindowClass(kPanelClass, &Win32Panel::Procedure, nullptr, nullptr);
  const int left = GetSystemMetrics(SM_CXSCREEN) / 2;
  const int top = GetSystemMetrics(SM_CYSCREEN) / 2;
  HWND window = CreateWindowExA(0, kApplicationClass, title_.c_str(), kApplicationStyle, left, top,
                                0, 0, nullptr, nullptr, Instance(), this);
  if (!window) throw Exception("Error creating window");
  window_.reset(window);
}

void Win32Application::SetTitle(const std::string& title) {
  title_ = title;
  if (window_.get()) SetWindowTextA(window_.get(), title.c_str());
}

std::unique_ptr<Window> Win32Application::CreateMainWindow(const FormLayout& layout) {
  Initialize();
  auto window = std::make_unique<Win32Window>(*this, layout);
  if (!main_) main_ = window.get();
  return window;
}

void Win32Application::Run(Window& main_window) {
  auto& form = static_cast<Win32Window&>(main_window);
  // The application window carries the taskbar button; it has no size of its own.
  SetWindowPos(handle(), nullptr, 0, 0, 0, 0,
               SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
  form.ShowCentred();
  while (!terminated_) {
    MSG message;
    const BOOL result = GetMessageA(&message, nullptr, 0, 0);
    if (result == 0 || result == -1) break;
    Dispatch(message);
  }
  terminated_ = true;
  ShowWindow(form.handle(), SW_HIDE);
  ShowWindow(handle(), SW_HIDE);
}

void Win32Application::ProcessMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      terminated_ = true;
      continue;
    }
    Dispatch(message);
  }
}

void Win32Application::Dispatch(MSG& message) {
  // Keyboard navigation between the form's controls (Tab, arrows, Space on a button).
  if (main_ && IsDialogMessageA(main_->handle(), &message)) return;
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

void Win32Application::Minimize() {
  ShowWindow(handle(), SW_MINIMIZE);
  // Not every host hides owned windows with their owner: hide the form explicitly.
  if (main_ && IsWindowVisible(main_->handle())) {
    ShowWindow(main_->handle(), SW_HIDE);
    form_minimised_ = true;
  }
}

void Win32Application::Restore() {
  if (!form_minimised_ || !main_) return;
  form_minimised_ = false;
  ShowWindow(main_->handle(), SW_SHOW);
  SetForegroundWindow(main_->handle());
}

void Win32Application::Terminate() {
  terminated_ = true;
  // Wakes a loop that waits for a message, so that it sees the flag.
  PostMessageA(handle(), WM_NULL, 0, 0);
}

void Win32Application::ShowException(const std::string& message) {
  const std::string text = ExceptionDisplayText(message);
  MessageBoxA(handle(), text.c_str(), title_.c_str(), MB_ICONERROR | MB_OK);
}

void Win32Application::HandleException() {
  try {
    throw;
  } catch (const Exception& e) {
    ShowException(e.what());
  } catch (...) {
    ShowException("");
  }
}

LRESULT CALLBACK Win32Application::Procedure(HWND window, UINT message, WPARAM wparam,
                                             LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Application*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!self || self->handle() != window) return DefWindowProcA(window, message, wparam, lparam);
  try {
    switch (message) {
      case WM_CLOSE:
        // Closing the taskbar button closes the main window.
        if (self->main_) self->main_->Close();
        return 0;
      case WM_SIZE:
        // Restored from the taskbar (or by anyone else): the form comes back with it.
        if (wparam != SIZE_MINIMIZED) self->Restore();
        break;
      case WM_SETFOCUS:
        if (self->main_ && IsWindowVisible(self->main_->handle()) &&
            IsWindowEnabled(self->main_->handle()))
          SetFocus(self->main_->handle());
        return 0;
      default:
        break;
    }
  } catch (...) {
    self->HandleException();
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace qvb::tk::win32
