// The Qt toolkit against the window as designed: controls and geometry from the layout table,
// fonts, texts and states, timers by identifier, message boxes, close and the loop, device
// registrations, the exception display.
#include "app/toolkit/qt/qt_toolkit.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/app/qt/qt_test_support.h"
#include "tests/support/fake_system.h"

namespace qvb::tk::qt {
namespace {

using qvb::testing::BoxAnswerer;
using FakeSource = qvb::testing::HandFiredSource;
using qvb::testing::WaitUntil;

constexpr uint32_t kCustomMessage = 0x8000 + 7;  // WM_APP + 7

class RecordingHandler : public MessageHandler {
 public:
  bool HandleMessage(uint32_t message, uintptr_t wparam, intptr_t) override {
    if (message == kCustomMessage) {
      if (throw_toolkit) throw Exception("Boom");
      throw std::runtime_error("not a toolkit exception");
    }
    if (message == kWmClose && !take_close) return false;
    if (message != kWmTimer && message != kWmDeviceChange && message != kWmClose) return false;
    seen.push_back({message, wparam});
    if (on_message) on_message(message, wparam);
    return true;
  }
  int Count(uint32_t message, uintptr_t wparam) const {
    int count = 0;
    for (const auto& [m, w] : seen) count += m == message && w == wparam;
    return count;
  }
  std::vector<std::pair<uint32_t, uintptr_t>> seen;
  std::function<void(uint32_t, uintptr_t)> on_message;
  bool throw_toolkit = true;
  bool take_close = false;
};

class QtToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app.set_device_event_source_factory([this](DeviceEventSink sink) {
      std::unique_ptr<DeviceEventSource> source;
      if (!sources_fail) source = std::make_unique<FakeSource>(std::move(sink), sources);
      return source;
    });
    app.Initialize();
    app.SetTitle("Quorvel FW Update Utility");
    window = app.CreateMainWindow(MainFormLayout());
    form = static_cast<QtWindow*>(window.get());
    form->SetMessageHandler(&handler);
  }
  template <class W>
  W* WidgetOf(const char* name) {
    return qobject_cast<W*>(form->ControlWidget(name));
  }

  // The window goes first, then what it refers to.
  qvb::testing::FakeSystem system;
  RecordingHandler handler;
  std::vector<FakeSource*> sources;
  bool sources_fail = false;
  QtApplication app;
  std::unique_ptr<Window> window;
  QtWindow* form = nullptr;
};

TEST_F(QtToolkitTest, EveryLayoutRowIsAControlOfItsKindWhereTheLayoutPutsIt) {
  const FormLayout& layout = MainFormLayout();
  ASSERT_EQ(9u, layout.control_count);
  for (std::size_t i = 0; i < layout.control_count; ++i) {
    const ControlLayout& row = layout.controls[i];
    SCOPED_TRACE(row.name);
    QWidget* widget = form->ControlWidget(row.name);
    ASSERT_NE(nullptr, widget);
    Control* control = form->Find(row.name);
    ASSERT_NE(nullptr, control);
    EXPECT_EQ(&row, &control->layout());
    EXPECT_EQ(QRect(row.left, row.top, row.width, row.height), widget->geometry());
    EXPECT_EQ(row.visible, control->Visible());
    EXPECT_TRUE(control->Enabled());
    switch (row.kind) {
      case ControlKind::Panel: {
        auto* label = qobject_cast<QLabel*>(widget);
        ASSERT_NE(nullptr, label);
        EXPECT_NE(nullptr, dynamic_cast<Panel*>(control));
        EXPECT_EQ(row.caption, control->Text());
        EXPECT_EQ(Qt::AlignCenter, label->alignment());
        EXPECT_EQ(QFrame::NoFrame, label->frameShape());
        break;
      }
      case ControlKind::Button:
        ASSERT_NE(nullptr, qobject_cast<QPushButton*>(widget));
        EXPECT_NE(nullptr, dynamic_cast<Button*>(control));
        EXPECT_EQ(row.caption, control->Text());
        break;
      case ControlKind::ComboBox: {
        auto* combo = qobject_cast<QComboBox*>(widget);
        ASSERT_NE(nullptr, combo);
        EXPECT_FALSE(combo->isEditable());
        EXPECT_EQ(0, dynamic_cast<ComboBox*>(control)->Count());
        break;
      }
    }
    const FontLayout& font = row.font == FontKind::Line ? layout.line_font : layout.window_font;
    EXPECT_EQ(QString::fromUtf8(font.face_utf8), widget->font().families().value(0));
    EXPECT_EQ(font.height_px, widget->font().pixelSize());
    EXPECT_FALSE(widget->font().bold());
  }
  EXPECT_EQ(nullptr, form->Find("btn_Missing"));
}

TEST_F(QtToolkitTest, TheFormIsFixedAtTheClientSizeWithoutMaximise) {
  QWidget& widget = form->widget();
  EXPECT_EQ(QSize(475, 203), widget.minimumSize());
  EXPECT_EQ(QSize(475, 203), widget.maximumSize());
  EXPECT_EQ("Form1", form->Caption());
  EXPECT_EQ(QStringLiteral("Form1"), widget.windowTitle());
  const Qt::WindowFlags flags = widget.windowFlags();
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(widget.palette().color(QPalette::Button), widget.palette().color(QPalette::Window));
  form->SetCaption("Harlowen FW Update Utility v133.01.00.06");
  EXPECT_EQ(QStringLiteral("Harlowen FW Update Utility v133.01.00.06"), widget.windowTitle());
}

TEST_F(QtToolkitTest, TheLineFontDrawsChineseWithAStandInWhenTheFaceIsMissing) {
  const QFont line = form->ControlWidget("pnl_Descript_1")->font();
  const QFontInfo used(line);
  // Debian has no such face; a CJK-capable stand-in of the list draws instead.
  if (used.family() == QString::fromUtf8(MainFormLayout().line_font.face_utf8))
    GTEST_SKIP() << "the requested face itself is installed";
  EXPECT_TRUE(QFontMetrics(line).inFont(QChar(0x5FAE))) << used.family().toStdString();
  EXPECT_EQ(16, used.pixelSize());
}

TEST_F(QtToolkitTest, TabOrderFollowsTheLayout) {
  // Tab orders 0..8: cbb_DeviceList, btn_Refresh, pnl_2, pnl_1, btn_Exit, pnl_3, btn_upd, ...
  const std::vector<const char*> chain = {"cbb_DeviceList", "btn_Refresh",    "pnl_Descript_2",
                                          "pnl_Descript_1", "btn_Exit",       "pnl_Descript_3",
                                          "btn_upd",        "pnl_Descript_4", "pnl_Descript_5"};
  for (std::size_t i = 1; i < chain.size(); ++i)
    EXPECT_EQ(form->ControlWidget(chain[i]), form->ControlWidget(chain[i - 1])->nextInFocusChain())
        << chain[i - 1];
}

TEST_F(QtToolkitTest, TextsKeepEveryByte) {
  std::string bytes = "<<USB>> ";
  for (int c = 0x20; c <= 0xFF; ++c) bytes += static_cast<char>(c);
  auto* panel = form->Find("pnl_Descript_3");
  panel->SetText(bytes);
  EXPECT_EQ(bytes, panel->Text());
  auto* list = static_cast<ComboBox*>(form->Find("cbb_DeviceList"));
  list->AddItem(bytes);
  EXPECT_EQ(bytes, list->Item(0));
  panel->SetText("");
  EXPECT_EQ("", panel->Text());
  EXPECT_EQ(QString(), WidgetOf<QLabel>("pnl_Descript_3")->text());
}

TEST_F(QtToolkitTest, VisibilityAndEnabledStateAreTheControlsOwn) {
  auto* update = form->Find("btn_upd");
  auto* button = WidgetOf<QPushButton>("btn_upd");
  // Before the form is shown, visible means: shown with the form.
  update->SetVisible(false);
  EXPECT_FALSE(update->Visible());
  update->SetVisible(true);
  EXPECT_TRUE(update->Visible());
  EXPECT_FALSE(button->isVisible());  // the form is not shown yet
  form->ShowCentred();
  EXPECT_TRUE(button->isVisible());
  update->SetEnabled(false);
  EXPECT_FALSE(update->Enabled());
  EXPECT_FALSE(button->isEnabled());
  // A hidden control stays hidden when the form is shown.
  EXPECT_FALSE(form->ControlWidget("btn_Refresh")->isVisible());
  EXPECT_FALSE(form->ControlWidget("cbb_DeviceList")->isVisible());
  form->widget().hide();
}

TEST_F(QtToolkitTest, PanelFontStyleAndColour) {
  auto* panel = static_cast<Panel*>(form->Find("pnl_Descript_5"));
  auto* label = WidgetOf<QLabel>("pnl_Descript_5");
  EXPECT_EQ(0, panel->FontStyle());
  EXPECT_EQ(kClWindowText, panel->FontColor());
  panel->SetFontStyle(kStyleBold | kStyleUnderline);
  EXPECT_TRUE(label->font().bold());
  EXPECT_TRUE(label->font().underline());
  EXPECT_FALSE(label->font().italic());
  EXPECT_EQ(16, label->font().pixelSize());  // the line font still
  panel->SetFontColor(0x000000FF);           // a COLORREF: red
  EXPECT_EQ(QColor(255, 0, 0), label->palette().color(QPalette::WindowText));
  panel->SetFontStyle(0);
  panel->SetFontColor(kClWindowText);
  EXPECT_FALSE(label->font().bold());
  EXPECT_FALSE(label->font().underline());
  EXPECT_EQ(QApplication::palette().color(QPalette::WindowText),
            label->palette().color(QPalette::WindowText));
  EXPECT_EQ(kClWindowText, panel->FontColor());
}

TEST_F(QtToolkitTest, ComboBoxListAndSelection) {
  auto* list = static_cast<ComboBox*>(form->Find("cbb_DeviceList"));
  list->AddItem("<<USB>> one");
  list->AddItem("<<UASP>> two");
  EXPECT_EQ(2, list->Count());
  EXPECT_EQ(0, list->ItemIndex());  // a drop-down list selects its first line
  list->SetItemIndex(1);
  EXPECT_EQ(1, list->ItemIndex());
  EXPECT_EQ("<<UASP>> two", list->Text());
  list->SetText("<<USB>> one");
  EXPECT_EQ(0, list->ItemIndex());
  list->SetItemIndex(5);
  EXPECT_EQ(-1, list->ItemIndex());
  EXPECT_EQ("", list->Item(5));
  EXPECT_EQ("", list->Item(-1));
  list->Clear();
  EXPECT_EQ(0, list->Count());
  EXPECT_EQ(-1, list->ItemIndex());
  list->AddItem("No available device!!!");
  list->SetItemIndex(0);
  list->SetEnabled(false);
  EXPECT_EQ("No available device!!!", list->Text());
  EXPECT_FALSE(list->Enabled());
}

TEST_F(QtToolkitTest, OnlyAVisibleEnabledButtonRunsItsHandler) {
  int clicks = 0;
  auto* exit = static_cast<Button*>(form->Find("btn_Exit"));
  exit->SetOnClick([&] { ++clicks; });
  WidgetOf<QPushButton>("btn_Exit")->click();
  EXPECT_EQ(1, clicks);
  exit->SetEnabled(false);
  WidgetOf<QPushButton>("btn_Exit")->click();
  EXPECT_EQ(1, clicks);
  // Nor does a hidden one, whoever clicks it.
  exit->SetEnabled(true);
  exit->SetVisible(false);
  WidgetOf<QPushButton>("btn_Exit")->click();
  EXPECT_EQ(1, clicks);
}

TEST_F(QtToolkitTest, ATimerDeliversItsIdentifierUntilItIsKilled) {
  form->SetTimer(101, 20);
  EXPECT_TRUE(form->TimerArmed(101));
  handler.on_message = [&](uint32_t message, uintptr_t id) {
    if (message == kWmTimer && id == 101 && handler.Count(kWmTimer, 101) == 3) form->KillTimer(101);
  };
  // It repeats: three deliveries, then the handler kills it.
  ASSERT_TRUE(WaitUntil([&] { return !form->TimerArmed(101); }));
  EXPECT_EQ(3, handler.Count(kWmTimer, 101));
  // A timer that falls due later shows that the killed one did not come again.
  handler.on_message = nullptr;
  form->SetTimer(7, 60);
  ASSERT_TRUE(WaitUntil([&] { return handler.Count(kWmTimer, 7) == 1; }));
  form->KillTimer(7);
  EXPECT_EQ(3, handler.Count(kWmTimer, 101));
}

TEST_F(QtToolkitTest, SettingATimerAgainStartsItOverAndKillingAnUnknownOneIsHarmless) {
  form->KillTimer(55);  // never set
  form->SetTimer(101, 10);
  form->SetTimer(101, 2000);  // restarts with the new period: the 10 ms one is gone
  form->SetTimer(102, 50);
  ASSERT_TRUE(WaitUntil([&] { return handler.Count(kWmTimer, 102) == 1; }));
  form->KillTimer(102);
  EXPECT_EQ(0, handler.Count(kWmTimer, 101));
  EXPECT_TRUE(form->TimerArmed(101));
  form->KillTimer(101);
  EXPECT_FALSE(form->TimerArmed(101));
}

TEST_F(QtToolkitTest, ProcessMessagesHandlesADueTimer) {
  form->SetTimer(101, 10);
  QElapsedTimer clock;
  clock.start();
  // Nothing is handled until messages are processed, however long the wait.
  while (clock.elapsed() < 30) {
  }
  EXPECT_EQ(0, handler.Count(kWmTimer, 101));
  app.ProcessMessages();
  EXPECT_EQ(1, handler.Count(kWmTimer, 101));
  form->KillTimer(101);
}

TEST_F(QtToolkitTest, CloseEndsTheLoopOnceTheHandlerHasReturned) {
  bool after_close = false;
  handler.on_message = [&](uint32_t message, uintptr_t id) {
    if (message != kWmTimer || id != 9) return;
    form->KillTimer(9);
    EXPECT_TRUE(form->widget().isVisible());
    form->Close();
    after_close = true;  // the handler goes on to its end
  };
  form->SetTimer(9, 10);
  app.Run(*form);
  EXPECT_TRUE(after_close);
  EXPECT_TRUE(app.terminated());
  EXPECT_FALSE(form->widget().isVisible());
  // Shown at the centre of the screen.
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_NEAR(screen.center().x(), form->widget().geometry().center().x(), 2);
  EXPECT_NEAR(screen.center().y(), form->widget().geometry().center().y(), 2);
}

TEST_F(QtToolkitTest, AWindowClosedBeforeTheLoopRunsNoLoop) {
  form->Close();
  app.Run(*form);  // returns at once
  EXPECT_TRUE(app.terminated());
  EXPECT_FALSE(form->widget().isVisible());
}

TEST_F(QtToolkitTest, TheCloseBoxClosesUnlessTheHandlerTakesIt) {
  form->ShowCentred();
  handler.take_close = true;
  form->widget().close();
  EXPECT_EQ(1, handler.Count(kWmClose, 0));
  EXPECT_FALSE(app.terminated());
  EXPECT_TRUE(form->widget().isVisible());
  handler.take_close = false;
  form->widget().close();
  EXPECT_TRUE(app.terminated());
}

TEST_F(QtToolkitTest, MessageBoxesHaveNoOwnerAndTheFlagsIconAndButtons) {
  struct Case {
    uint32_t flags;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton press;
    int result;
  };
  const Case cases[] = {
      {kMbTaskModal | kMbIconWarning | kMbOk, QMessageBox::Warning, QMessageBox::Ok,
       QMessageBox::Ok, kIdOk},
      {kMbIconError | kMbOk, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok, kIdOk},
      {kMbIconWarning | kMbYesNo, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No,
       QMessageBox::No, kIdNo},
      {kMbIconQuestion | kMbYesNo, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
       QMessageBox::Yes, kIdYes},
      {kMbOkCancel, QMessageBox::NoIcon, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel,
       kIdCancel},
      {kMbIconInformation, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok, kIdOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    BoxAnswerer answerer;
    answerer.Answer(c.press);
    EXPECT_EQ(c.result,
              System().MessageBox("Multiple USB drives are attached.\nPlease", "Warning", c.flags));
    ASSERT_EQ(1u, answerer.seen.size());
    const auto& box = answerer.seen[0];
    EXPECT_EQ("Warning", box.title);
    EXPECT_EQ("Multiple USB drives are attached.\nPlease", box.text);
    EXPECT_EQ(c.icon, box.icon);
    EXPECT_EQ(c.buttons, box.buttons);
    EXPECT_FALSE(box.has_parent);
    EXPECT_EQ(Qt::ApplicationModal, box.modality);
  }
  // The first button is the default, as on Windows.
  BoxAnswerer answerer;
  System().MessageBox("q", "c", kMbYesNo);
  ASSERT_EQ(1u, answerer.seen.size());
  EXPECT_EQ(QMessageBox::Yes, answerer.seen[0].default_button);
}

TEST_F(QtToolkitTest, ServicesOtherThanMessageBoxesGoToThoseInPlaceBefore) {
  System().Sleep(250);
  System().DebugOutput("btn_upd Press\n");
  EXPECT_EQ(std::vector<uint32_t>{250}, system.sleeps);
  EXPECT_EQ(std::vector<std::string>{"btn_upd Press\n"}, system.debug);
  EXPECT_TRUE(system.boxes.empty());
}

TEST_F(QtToolkitTest, AnExceptionInAHandlerIsShownAndTheProgramGoesOn) {
  struct Case {
    bool toolkit;
    std::string text;
  };
  for (const Case& c : {Case{true, "Boom."}, Case{false, ""}}) {
    BoxAnswerer answerer;
    handler.throw_toolkit = c.toolkit;
    EXPECT_TRUE(form->Deliver(kCustomMessage, 0));
    ASSERT_EQ(1u, answerer.seen.size());
    EXPECT_EQ("Quorvel FW Update Utility", answerer.seen[0].title);
    EXPECT_EQ(c.text, answerer.seen[0].text);
    EXPECT_EQ(QMessageBox::Critical, answerer.seen[0].icon);
    EXPECT_EQ(QMessageBox::StandardButtons(QMessageBox::Ok), answerer.seen[0].buttons);
  }
  // A button's handler that throws is shown the same way.
  BoxAnswerer answerer;
  static_cast<Button*>(form->Find("btn_upd"))->SetOnClick([] { throw Exception("Disk full."); });
  WidgetOf<QPushButton>("btn_upd")->click();
  ASSERT_EQ(1u, answerer.seen.size());
  EXPECT_EQ("Disk full.", answerer.seen[0].text);
}

TEST_F(QtToolkitTest, ARegistrationDeliversItsCodesUntilItIsReleased) {
  const DeviceInterfaceFilter usb;
  void* handle = form->RegisterDeviceNotification(usb, 0);
  ASSERT_NE(nullptr, handle);
  ASSERT_EQ(1u, sources.size());
  sources[0]->Fire(kDbtDeviceRemoveComplete);
  sources[0]->Fire(kDbtDevNodesChanged);
  EXPECT_EQ(
      (std::vector<std::pair<uint32_t, uintptr_t>>{{kWmDeviceChange, kDbtDeviceRemoveComplete},
                                                   {kWmDeviceChange, kDbtDevNodesChanged}}),
      handler.seen);
  form->UnregisterDeviceNotification(nullptr);  // a failed registration's handle: nothing
  EXPECT_EQ(1u, sources.size());
  form->UnregisterDeviceNotification(handle);
  EXPECT_TRUE(sources.empty());
  EXPECT_EQ(0u, form->registrations());
}

TEST_F(QtToolkitTest, RegistrationsThatCannotBeHadAreNull) {
  DeviceInterfaceFilter wrong_type;
  wrong_type.device_type = 2;  // volumes
  DeviceInterfaceFilter wrong_size;
  wrong_size.size = 28;
  DeviceInterfaceFilter other_class;
  other_class.guid_data1 = 0x53F56307;  // disks
  EXPECT_EQ(nullptr, form->RegisterDeviceNotification(wrong_type, 0));
  EXPECT_EQ(nullptr, form->RegisterDeviceNotification(wrong_size, 0));
  EXPECT_EQ(nullptr, form->RegisterDeviceNotification(other_class, 0));
  EXPECT_EQ(nullptr, form->RegisterDeviceNotification(DeviceInterfaceFilter{}, 1));  // service
  EXPECT_NE(nullptr, form->RegisterDeviceNotification(other_class, 4));  // all interface classes
  sources_fail = true;
  EXPECT_EQ(nullptr, form->RegisterDeviceNotification(DeviceInterfaceFilter{}, 0));
  EXPECT_EQ(1u, form->registrations());
}

TEST_F(QtToolkitTest, TheWindowReleasesItsRegistrationsAndTimersWhenItGoes) {
  form->RegisterDeviceNotification(DeviceInterfaceFilter{}, 0);
  form->SetTimer(101, 10);
  ASSERT_EQ(1u, sources.size());
  window.reset();
  EXPECT_TRUE(sources.empty());
  EXPECT_EQ(nullptr, app.main_window());
}

}  // namespace
}  // namespace qvb::tk::qt
