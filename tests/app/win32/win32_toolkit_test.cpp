// The Win32 toolkit in process: what another process cannot see (fonts, the class background,
// the handler's results) and what it can, checked against the window as designed.
#include "app/toolkit/win32/win32_toolkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace qvb::tk::win32 {
namespace {

constexpr const char* kTitle = "Quorvel FW Update Utility";

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string TextOf(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

RECT RectInParent(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

LOGFONTW FontOf(HWND control) {
  LOGFONTW font{};
  HFONT handle = ControlFont(control);
  EXPECT_NE(handle, nullptr);
  if (handle) GetObjectW(handle, sizeof font, &font);
  return font;
}

// Records what reaches the form; can be told to throw.
class RecordingHandler : public MessageHandler {
 public:
  bool HandleMessage(uint32_t message, uintptr_t wparam, intptr_t) override {
    if (message == WM_APP + 7) {
      if (throw_toolkit) throw Exception("Boom");
      throw std::runtime_error("not a toolkit exception");
    }
    if (message != WM_TIMER && message != WM_DEVICECHANGE && message != WM_APP) return false;
    seen.push_back({message, wparam});
    if (on_message) on_message(message, wparam);
    return true;
  }
  std::vector<std::pair<uint32_t, uintptr_t>> seen;
  std::function<void(uint32_t, uintptr_t)> on_message;
  bool throw_toolkit = true;
};

class Win32ToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app.Initialize();
    app.SetTitle(kTitle);
    window = app.CreateMainWindow(MainFormLayout());
    form = static_cast<Win32Window*>(window.get());
    form->SetMessageHandler(&handler);
  }
  HWND HandleOf(const char* name) {
    auto* control = dynamic_cast<Win32Control*>(form->Find(name));
    return control ? control->handle() : nullptr;
  }
  // Handles messages until `done` holds or two seconds have passed.
  template <typename Predicate>
  bool PumpUntil(Predicate done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      app.ProcessMessages();
      Sleep(1);
    }
    return true;
  }

  Win32Application app;
  std::unique_ptr<Window> window;
  Win32Window* form = nullptr;
  RecordingHandler handler;
};

TEST_F(Win32ToolkitTest, ApplicationWindowCarriesTheTitleAndOwnsTheHiddenForm) {
  ASSERT_NE(app.handle(), nullptr);
  EXPECT_EQ(ClassOf(app.handle()), kApplicationClass);
  EXPECT_EQ(TextOf(app.handle()), kTitle);
  EXPECT_EQ(GetWindow(form->handle(), GW_OWNER), app.handle());
  RECT rect;
  GetWindowRect(app.handle(), &rect);
  EXPECT_EQ(rect.right - rect.left, 0);
  EXPECT_EQ(rect.bottom - rect.top, 0);
  EXPECT_FALSE(IsWindowVisible(form->handle()));
  EXPECT_EQ(TextOf(form->handle()), "Form1");
  form->SetCaption("Harlowen FW Update Utility v133.01.00.06");
  EXPECT_EQ(TextOf(form->handle()), "Harlowen FW Update Utility v133.01.00.06");
  EXPECT_EQ(form->Caption(), "Harlowen FW Update Utility v133.01.00.06");
}

TEST_F(Win32ToolkitTest, FormIsAFixedDialogOfTheDesignedClientSize) {
  EXPECT_EQ(ClassOf(form->handle()), kFormClass);
  RECT client;
  GetClientRect(form->handle(), &client);
  EXPECT_EQ(client.right, 475);
  EXPECT_EQ(client.bottom, 203);
  const LONG style = GetWindowLongA(form->handle(), GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_EQ(GetClassLongPtrA(form->handle(), GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);
}

struct ExpectedControl {
  const char* name;
  const char* window_class;
  int left, top, width, height;
  const char* text;
  bool visible;
  bool line_font;
};

// In tab order, which is also the order of the form's child windows.
const ExpectedControl kExpected[] = {
    {"cbb_DeviceList", "ComboBox", 216, 144, 177, 21, "", false, false},
    {"btn_Refresh", "Button", 80, 144, 97, 25, "Refresh", false, false},
    {"pnl_Descript_2", kPanelClass, 8, 35, 460, 25, "pnl_2", true, true},
    {"pnl_Descript_1", kPanelClass, 8, 5, 460, 25, "pnl_1", true, true},
    {"btn_Exit", "Button", 384, 160, 80, 33, "Exit", true, true},
    {"pnl_Descript_3", kPanelClass, 7, 65, 460, 25, "pnl_3", true, true},
    {"btn_upd", "Button", 208, 160, 80, 33, "Update", true, true},
    {"pnl_Descript_4", kPanelClass, 7, 95, 460, 25, "pnl_4", true, true},
    {"pnl_Descript_5", kPanelClass, 7, 125, 460, 25, "pnl_5", true, true},
};

TEST_F(Win32ToolkitTest, ControlsStandWhereTheLayoutPutsThemInTabOrder) {
  HWND child = GetWindow(form->handle(), GW_CHILD);
  for (const auto& expected : kExpected) {
    SCOPED_TRACE(expected.name);
    HWND control = HandleOf(expected.name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(child, control) << "tab order";
    child = GetWindow(child, GW_HWNDNEXT);
    EXPECT_EQ(ClassOf(control), expected.window_class);
    const RECT rect = RectInParent(control);
    EXPECT_EQ(rect.left, expected.left);
    EXPECT_EQ(rect.top, expected.top);
    EXPECT_EQ(rect.right - rect.left, expected.width);
    EXPECT_EQ(rect.bottom - rect.top, expected.height);
    EXPECT_EQ(TextOf(control), expected.text);
    EXPECT_EQ((GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0, expected.visible);
    EXPECT_EQ(form->Find(expected.name)->Visible(), expected.visible);
  }
  EXPECT_EQ(child, nullptr) << "no control beyond the nine";
  HWND combo = HandleOf("cbb_DeviceList");
  EXPECT_EQ(GetWindowLongA(combo, GWL_STYLE) & 0x3, CBS_DROPDOWNLIST);
  EXPECT_EQ(SendMessageA(combo, CB_GETITEMHEIGHT, 0, 0), 13);
  for (const char* name : {"btn_Exit", "btn_upd", "btn_Refresh"})
    EXPECT_EQ(GetWindowLongA(HandleOf(name), GWL_STYLE) & 0x0F, BS_PUSHBUTTON) << name;
}

TEST_F(Win32ToolkitTest, LineFontAndWindowFontReachTheSystemAsDesigned) {
  for (const auto& expected : kExpected) {
    SCOPED_TRACE(expected.name);
    const LOGFONTW font = FontOf(HandleOf(expected.name));
    if (expected.line_font) {
      EXPECT_EQ(std::wstring(font.lfFaceName), L"\u5FAE\u8EDF\u6B63\u9ED1\u9AD4");  // 微軟正黑體
      EXPECT_EQ(font.lfHeight, -16);
      EXPECT_EQ(font.lfCharSet, ANSI_CHARSET);
    } else {
      EXPECT_EQ(std::wstring(font.lfFaceName), L"MS Sans Serif");
      EXPECT_EQ(font.lfHeight, -11);
      EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET);
    }
    EXPECT_EQ(font.lfWeight, FW_NORMAL);
    EXPECT_FALSE(font.lfItalic || font.lfUnderline || font.lfStrikeOut);
  }
  const LOGFONTW form_font = FontOf(form->handle());
  EXPECT_EQ(std::wstring(form_font.lfFaceName), L"MS Sans Serif");
}

// A font replacement is keyed on the exact face name: the line font drawing its own name's
// CJK glyphs from the replacement shows that the face reached the system intact (a garbled
// face would fall back to a Latin font without them).
TEST_F(Win32ToolkitTest, LineFontFaceResolvesThroughTheHostsReplacement) {
  wchar_t replacement[LF_FACESIZE] = {};
  DWORD size = sizeof replacement;
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Wine\\Fonts\\Replacements",
                   L"\u5FAE\u8EDF\u6B63\u9ED1\u9AD4", RRF_RT_REG_SZ, nullptr, replacement,
                   &size) != ERROR_SUCCESS)
    GTEST_SKIP() << "no replacement for the line font's face on this host";
  const wchar_t kName[] = L"\u5FAE\u8EDF\u6B63\u9ED1\u9AD4";
  GdiObject direct(CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               DEFAULT_PITCH | FF_DONTCARE, replacement));
  HDC dc = GetDC(nullptr);
  auto measure = [&](HGDIOBJ font, WORD* glyphs) {
    HGDIOBJ previous = SelectObject(dc, font);
    GetGlyphIndicesW(dc, kName, 5, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
    SIZE extent{};
    GetTextExtentPoint32W(dc, kName, 5, &extent);
    SelectObject(dc, previous);
    return extent.cx;
  };
  WORD line_glyphs[5] = {}, direct_glyphs[5] = {};
  const LONG line_width = measure(form->Font(FontKind::Line, 0), line_glyphs);
  const LONG direct_width = measure(direct.get(), direct_glyphs);
  ReleaseDC(nullptr, dc);
  for (WORD glyph : line_glyphs) EXPECT_NE(glyph, 0xFFFF) << "a glyph of the name is missing";
  EXPECT_TRUE(std::equal(std::begin(line_glyphs), std::end(line_glyphs), direct_glyphs));
  EXPECT_EQ(line_width, direct_width);
}

TEST_F(Win32ToolkitTest, PanelFontStyleAndColourChangeTheFontItDrawsWith) {
  auto* panel = dynamic_cast<Panel*>(form->Find("pnl_Descript_5"));
  ASSERT_NE(panel, nullptr);
  HWND handle = HandleOf("pnl_Descript_5");
  EXPECT_EQ(panel->FontColor(), kClWindowText);
  panel->SetFontStyle(kStyleBold | kStyleItalic | kStyleUnderline | kStyleStrikeOut);
  LOGFONTW font = FontOf(handle);
  EXPECT_EQ(font.lfWeight, FW_BOLD);
  EXPECT_TRUE(font.lfItalic && font.lfUnderline && font.lfStrikeOut);
  EXPECT_EQ(font.lfHeight, -16);
  panel->SetFontStyle(0);
  font = FontOf(handle);
  EXPECT_EQ(font.lfWeight, FW_NORMAL);
  EXPECT_FALSE(font.lfItalic || font.lfUnderline || font.lfStrikeOut);
  EXPECT_EQ(panel->FontStyle(), 0);
  // The same style gives the same font: variants are made once.
  EXPECT_EQ(form->Font(FontKind::Line, 0), ControlFont(handle));
  panel->SetFontColor(0x000000FF);
  EXPECT_EQ(panel->FontColor(), 0x000000FFu);
  EXPECT_EQ(ColorToRgb(kClWindowText), GetSysColor(COLOR_WINDOWTEXT));
  EXPECT_EQ(ColorToRgb(0x80000000 | COLOR_BTNFACE), GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(ColorToRgb(0x000000FF), RGB(0xFF, 0, 0));
}

TEST_F(Win32ToolkitTest, ControlStatesAndTextsGoThroughTheWindows) {
  Control* button = form->Find("btn_upd");
  button->SetVisible(false);
  EXPECT_FALSE(button->Visible());
  EXPECT_FALSE(GetWindowLongA(HandleOf("btn_upd"), GWL_STYLE) & WS_VISIBLE);
  button->SetVisible(true);
  EXPECT_TRUE(button->Visible());
  button->SetEnabled(false);
  EXPECT_FALSE(button->Enabled());
  EXPECT_FALSE(IsWindowEnabled(HandleOf("btn_upd")));
  button->SetEnabled(true);
  EXPECT_TRUE(button->Enabled());

  Control* panel = form->Find("pnl_Descript_3");
  panel->SetText("Firmware version: 133.01.00.06");
  EXPECT_EQ(panel->Text(), "Firmware version: 133.01.00.06");
  EXPECT_EQ(TextOf(HandleOf("pnl_Descript_3")), "Firmware version: 133.01.00.06");
  panel->SetText("");
  EXPECT_EQ(panel->Text(), "");
  // 8-bit text stays 8-bit.
  panel->SetText("<<USB>> Quorvel QVB886 NVMe     ");
  EXPECT_EQ(panel->Text(), "<<USB>> Quorvel QVB886 NVMe     ");
}

TEST_F(Win32ToolkitTest, ComboBoxKeepsLinesAndSelection) {
  auto* combo = dynamic_cast<ComboBox*>(form->Find("cbb_DeviceList"));
  ASSERT_NE(combo, nullptr);
  EXPECT_EQ(combo->Count(), 0);
  EXPECT_EQ(combo->ItemIndex(), -1);
  combo->AddItem("<<USB>> Quorvel QVB886 NVMe     ");
  combo->AddItem("<<UASP>> ");
  combo->AddItem("");
  EXPECT_EQ(combo->Count(), 3);
  EXPECT_EQ(combo->Item(0), "<<USB>> Quorvel QVB886 NVMe     ");
  EXPECT_EQ(combo->Item(1), "<<UASP>> ");  // in the order added, not sorted
  EXPECT_EQ(combo->Item(2), "");
  EXPECT_EQ(combo->Item(3), "");
  EXPECT_EQ(combo->Item(-1), "");
  combo->SetItemIndex(1);
  EXPECT_EQ(combo->ItemIndex(), 1);
  EXPECT_EQ(combo->Text(), "<<UASP>> ");
  combo->SetItemIndex(7);
  EXPECT_EQ(combo->ItemIndex(), -1);
  combo->SetItemIndex(0);
  combo->Clear();
  EXPECT_EQ(combo->Count(), 0);
  EXPECT_EQ(combo->ItemIndex(), -1);
  combo->AddItem("No available device!!!");
  combo->SetItemIndex(0);
  combo->SetEnabled(false);
  EXPECT_EQ(TextOf(HandleOf("cbb_DeviceList")), "No available device!!!");
  EXPECT_FALSE(combo->Enabled());
}

TEST_F(Win32ToolkitTest, TimerAndDeviceChangeReachTheHandlerWithResultZero) {
  EXPECT_EQ(SendMessageA(form->handle(), WM_DEVICECHANGE, 7, 0), 0);
  EXPECT_EQ(SendMessageA(form->handle(), WM_TIMER, 100, 0), 0);
  ASSERT_EQ(handler.seen.size(), 2u);
  EXPECT_EQ(handler.seen[0], (std::pair<uint32_t, uintptr_t>{WM_DEVICECHANGE, 7}));
  EXPECT_EQ(handler.seen[1], (std::pair<uint32_t, uintptr_t>{WM_TIMER, 100}));
  // What the handler leaves alone gets the default handling.
  SendMessageA(form->handle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("changed"));
  EXPECT_EQ(TextOf(form->handle()), "changed");
}

TEST_F(Win32ToolkitTest, TimersAreSetAndKilledByIdentifier) {
  form->SetTimer(101, 60000);
  EXPECT_TRUE(::KillTimer(form->handle(), 101));  // it existed
  form->SetTimer(101, 60000);
  form->KillTimer(101);
  EXPECT_FALSE(::KillTimer(form->handle(), 101));  // already gone
  form->KillTimer(102);                            // killing what is not there is harmless

  form->SetTimer(101, 1);
  ASSERT_TRUE(PumpUntil([&] { return !handler.seen.empty(); }));
  EXPECT_EQ(handler.seen[0], (std::pair<uint32_t, uintptr_t>{WM_TIMER, 101}));
  form->KillTimer(101);
}

TEST_F(Win32ToolkitTest, ProcessMessagesHandlesWhatIsWaitingAndReturns) {
  ASSERT_TRUE(PostMessageA(form->handle(), WM_DEVICECHANGE, 7, 0));
  ASSERT_TRUE(PostMessageA(form->handle(), WM_TIMER, 101, 0));
  app.ProcessMessages();
  ASSERT_EQ(handler.seen.size(), 2u);
  EXPECT_EQ(handler.seen[1], (std::pair<uint32_t, uintptr_t>{WM_TIMER, 101}));
  app.ProcessMessages();  // nothing waits: returns at once
  EXPECT_EQ(handler.seen.size(), 2u);
}

TEST_F(Win32ToolkitTest, ButtonClickRunsItsHandlerOnlyWhenVisibleAndEnabled) {
  auto* button = dynamic_cast<Button*>(form->Find("btn_Exit"));
  int clicks = 0;
  button->SetOnClick([&] { ++clicks; });
  SendMessageA(HandleOf("btn_Exit"), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1);
  // No click reaches a handler through a button the user cannot press.
  button->SetEnabled(false);
  SendMessageA(HandleOf("btn_Exit"), BM_CLICK, 0, 0);
  button->SetEnabled(true);
  button->SetVisible(false);
  SendMessageA(HandleOf("btn_Exit"), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1);
}

TEST_F(Win32ToolkitTest, RunShowsTheFormCentredAndEndsWhenItCloses) {
  RECT shown{};
  bool visible = false;
  handler.on_message = [&](uint32_t message, uintptr_t) {
    if (message != WM_APP) return;
    visible = IsWindowVisible(form->handle()) && IsWindowVisible(app.handle());
    GetWindowRect(form->handle(), &shown);
    PostMessageA(form->handle(), WM_CLOSE, 0, 0);
  };
  PostMessageA(form->handle(), WM_APP, 0, 0);
  app.Run(*form);
  EXPECT_TRUE(app.terminated());
  EXPECT_TRUE(visible);
  const int width = shown.right - shown.left;
  const int height = shown.bottom - shown.top;
  EXPECT_NEAR(shown.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2, 1);
  EXPECT_NEAR(shown.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 1);
  EXPECT_TRUE(IsWindow(form->handle()));  // destroyed with the form object, not by the close
}

TEST_F(Win32ToolkitTest, CloseFromAHandlerEndsTheLoopOnlyAfterTheHandlerReturns) {
  bool handler_finished = false;
  handler.on_message = [&](uint32_t message, uintptr_t) {
    if (message != WM_APP) return;
    form->Close();
    app.ProcessMessages();  // the handler goes on, as an update that is being closed does
    handler_finished = true;
  };
  PostMessageA(form->handle(), WM_APP, 0, 0);
  app.Run(*form);
  EXPECT_TRUE(handler_finished);
  EXPECT_TRUE(app.terminated());
}

TEST_F(Win32ToolkitTest, PanelCaptionIsDrawnCentred) {
  auto* panel = form->Find("pnl_Descript_4");
  panel->SetText("Status: Update required");
  form->ShowCentred();
  HWND handle = HandleOf("pnl_Descript_4");
  RedrawWindow(handle, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  app.ProcessMessages();
  HDC dc = GetDC(handle);
  RECT client;
  GetClientRect(handle, &client);
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  int left = client.right, right = -1, top = client.bottom, bottom = -1;
  for (int y = 0; y < client.bottom; ++y)
    for (int x = 0; x < client.right; ++x) {
      if (GetPixel(dc, x, y) == face) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  ReleaseDC(handle, dc);
  ASSERT_GE(right, left) << "nothing drawn";
  // Inside the panel, not clipped, and centred to within a pixel or two of glyph bearings.
  EXPECT_GT(left, 0);
  EXPECT_LT(right, client.right - 1);
  EXPECT_GT(top, 0);
  EXPECT_LT(bottom, client.bottom - 1);
  EXPECT_NEAR(left, client.right - 1 - right, 3);
  EXPECT_NEAR(top, client.bottom - 1 - bottom, 4);
}

TEST_F(Win32ToolkitTest, DeviceNotificationRegistrationUsesTheFilterRecord) {
  const DeviceInterfaceFilter filter;
  void* registration = form->RegisterDeviceNotification(filter, 0);
  EXPECT_NE(registration, nullptr);
  form->UnregisterDeviceNotification(registration);
  form->UnregisterDeviceNotification(nullptr);  // a failed registration is passed on harmlessly
}

// Presses OK on the first message box of this process with `caption`, after recording its text.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(std::string caption)
      : caption_(std::move(caption)), thread_([this] { Answer(); }) {}
  ~BoxAnswerer() { Join(); }
  // Stops looking; what was recorded may be read afterwards.
  void Join() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::string text;
  bool found = false;
  bool error_icon = false;

 private:
  void Answer() {
    for (int i = 0; i < 2000 && !stop_; ++i) {
      HWND box = FindWindowA("#32770", caption_.c_str());
      DWORD process = 0;
      if (box) GetWindowThreadProcessId(box, &process);
      if (box && process == GetCurrentProcessId() && GetDlgItem(box, IDOK)) {
        text = TextOf(GetDlgItem(box, 0xFFFF));
        // The error icon is the system's hand icon in the box's icon control.
        HWND icon = GetDlgItem(box, 0x0014);        // as Windows numbers it
        if (!icon) icon = GetDlgItem(box, 0x0440);  // as Wine does
        error_icon = icon && reinterpret_cast<HICON>(SendMessageA(icon, STM_GETICON, 0, 0)) ==
                                 LoadIconA(nullptr, IDI_HAND);
        found = true;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return;
      }
      Sleep(5);
    }
  }
  std::string caption_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(Win32ToolkitTest, ExceptionInAHandlerIsShownCaptionedWithTheTitle) {
  for (const bool toolkit : {true, false}) {
    SCOPED_TRACE(toolkit ? "toolkit exception" : "other exception");
    handler.throw_toolkit = toolkit;
    BoxAnswerer answerer(kTitle);
    EXPECT_EQ(SendMessageA(form->handle(), WM_APP + 7, 0, 0), 0);
    // The box was modal: it has been answered by the time the message returns.
    answerer.Join();
    ASSERT_TRUE(answerer.found);
    EXPECT_EQ(answerer.text, toolkit ? "Boom." : "");
    EXPECT_TRUE(answerer.error_icon);
  }
}

}  // namespace
}  // namespace qvb::tk::win32
