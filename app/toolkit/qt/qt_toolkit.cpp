#include "app/toolkit/qt/qt_toolkit.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTimerEvent>
#include <algorithm>
#include <cstring>
#include <functional>

#include "app/toolkit/qt/udev_monitor.h"

namespace qvb::tk::qt {
namespace {

// What Windows gives a timer of less (USER_TIMER_MINIMUM).
constexpr uint32_t kShortestTimerMs = 10;
constexpr uint32_t kDeviceTypeInterface = 5;
constexpr uint32_t kFilterRecordSize = 32;  // the Windows record, name field and padding included
constexpr uint32_t kNotifyAllInterfaceClasses = 0x0004;

QString FromText(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToText(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The faces that stand in for a layout face that a Linux desktop does not have.
QStringList StandIns(FontKind kind) {
  if (kind == FontKind::Line)
    return {"Microsoft JhengHei", "Noto Sans CJK TC", "WenQuanYi Micro Hei", "AR PL UMing TW",
            "Droid Sans Fallback"};
  return {"Microsoft Sans Serif", "Liberation Sans", "DejaVu Sans"};
}

// A system colour index (high bit set) as the palette role that plays its part here.
QColor SystemColour(const QPalette& palette, uint32_t index) {
  switch (index) {
    case 5:  // window
      return palette.color(QPalette::Base);
    case 13:  // highlight
      return palette.color(QPalette::Highlight);
    case 14:  // highlight text
      return palette.color(QPalette::HighlightedText);
    case 15:  // button face
      return palette.color(QPalette::Button);
    case 17:  // grey text
      return palette.color(QPalette::Disabled, QPalette::WindowText);
    case 18:  // button text
      return palette.color(QPalette::ButtonText);
    default:  // 8, window text, and whatever has no counterpart
      return palette.color(QPalette::WindowText);
  }
}

// Every control: its layout row and its widget (a child of the form, which owns it).
template <class Interface, class Widget>
class QtControl : public Interface {
 public:
  QtControl(const ControlLayout& layout, Widget* widget) : layout_(layout), widget_(widget) {}
  const ControlLayout& layout() const override { return layout_; }
  // The control's own visibility, true also while the form itself is still hidden.
  void SetVisible(bool visible) override { widget_->setVisible(visible); }
  bool Visible() const override { return widget_->isVisibleTo(widget_->parentWidget()); }
  void SetEnabled(bool enabled) override { widget_->setEnabled(enabled); }
  bool Enabled() const override { return widget_->isEnabledTo(widget_->parentWidget()); }
  Widget* widget() const { return widget_; }

 private:
  const ControlLayout& layout_;
  Widget* widget_;
};

// A control whose text is its caption.
template <class Interface, class Widget>
class QtCaptionControl : public QtControl<Interface, Widget> {
 public:
  using QtControl<Interface, Widget>::QtControl;
  void SetText(const std::string& text) override { this->widget()->setText(FromText(text)); }
  std::string Text() const override { return ToText(this->widget()->text()); }
};

class QtPanel : public QtCaptionControl<Panel, QLabel> {
 public:
  QtPanel(const ControlLayout& layout, QLabel* label, const FontLayout& font)
      : QtCaptionControl(layout, label), font_(font) {}
  void SetFontStyle(uint8_t styles) override {
    style_ = styles;
    widget()->setFont(MakeFont(font_, layout().font, styles));
  }
  uint8_t FontStyle() const override { return style_; }
  void SetFontColor(uint32_t color) override {
    color_ = color;
    QPalette palette = widget()->palette();
    const QColor colour =
        (color & 0x80000000u)
            ? SystemColour(QApplication::palette(), color & 0xFF)
            : QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                     static_cast<int>((color >> 16) & 0xFF));
    palette.setColor(QPalette::Active, QPalette::WindowText, colour);
    palette.setColor(QPalette::Inactive, QPalette::WindowText, colour);
    widget()->setPalette(palette);
  }
  uint32_t FontColor() const override { return color_; }

 private:
  const FontLayout& font_;
  uint8_t style_ = 0;
  uint32_t color_ = kClWindowText;
};

class QtButton : public QtCaptionControl<Button, QPushButton> {
 public:
  QtButton(const ControlLayout& layout, QPushButton* button, QtApplication& application)
      : QtCaptionControl(layout, button) {
    QObject::connect(button, &QPushButton::clicked, [this, &application] {
      // A click that reaches a hidden or disabled button (click() from anywhere) is no click.
      if (!on_click_ || !Visible() || !Enabled()) return;
      try {
        on_click_();
      } catch (...) {
        application.HandleException();
      }
    });
  }
  void SetOnClick(std::function<void()> handler) override { on_click_ = std::move(handler); }

 private:
  std::function<void()> on_click_;
};

// The list lines at the layout's item height.
class ItemHeightDelegate : public QStyledItemDelegate {
 public:
  ItemHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(height_);
    return size;
  }

 private:
  int height_;
};

class QtComboBox : public QtControl<ComboBox, QComboBox> {
 public:
  using QtControl::QtControl;
  // A drop-down list shows the selected line as its text: setting the text selects a line.
  void SetText(const std::string& text) override {
    const int index = widget()->findText(FromText(text), Qt::MatchFixedString);
    if (index >= 0) widget()->setCurrentIndex(index);
  }
  std::string Text() const override { return ToText(widget()->currentText()); }
  void Clear() override { widget()->clear(); }
  void AddItem(const std::string& text) override { widget()->addItem(FromText(text)); }
  int Count() const override { return widget()->count(); }
  std::string Item(int index) const override {
    if (index < 0 || index >= Count()) return std::string();
    return ToText(widget()->itemText(index));
  }
  // An index outside the list clears the selection.
  void SetItemIndex(int index) override {
    widget()->setCurrentIndex(index >= 0 && index < Count() ? index : -1);
  }
  int ItemIndex() const override { return widget()->currentIndex(); }
};

bool IsUsbDeviceInterface(const DeviceInterfaceFilter& filter) {
  const DeviceInterfaceFilter usb;
  return filter.guid_data1 == usb.guid_data1 && filter.guid_data2 == usb.guid_data2 &&
         filter.guid_data3 == usb.guid_data3 &&
         std::memcmp(filter.guid_data4, usb.guid_data4, sizeof usb.guid_data4) == 0;
}

}  // namespace

int ShowMessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  QMessageBox box;  // no owner window
  box.setWindowTitle(FromText(caption));
  box.setText(FromText(text));
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  switch (flags & 0xF0) {
    case kMbIconError:
      box.setIcon(QMessageBox::Critical);
      break;
    case kMbIconQuestion:
      box.setIcon(QMessageBox::Question);
      break;
    case kMbIconWarning:
      box.setIcon(QMessageBox::Warning);
      break;
    case kMbIconInformation:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  // The buttons of the set, the first the default; the result of each.
  std::vector<std::pair<QMessageBox::StandardButton, int>> buttons;
  switch (flags & 0x0F) {
    case kMbOkCancel:
      buttons = {{QMessageBox::Ok, kIdOk}, {QMessageBox::Cancel, kIdCancel}};
      break;
    case kMbYesNoCancel:
      buttons = {
          {QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}, {QMessageBox::Cancel, kIdCancel}};
      break;
    case kMbYesNo:
      buttons = {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}};
      break;
    default:  // MB_OK, and the sets this program never shows
      buttons = {{QMessageBox::Ok, kIdOk}};
      break;
  }
  QMessageBox::StandardButtons set;
  for (const auto& [button, result] : buttons) set |= button;
  box.setStandardButtons(set);
  box.setDefaultButton(buttons.front().first);
  // Escape (and the close box, where the set has one) answers as Windows does: Cancel, or OK
  // alone; a Yes/No box cannot be escaped.
  for (const auto& [button, result] : buttons)
    if (result == kIdCancel || buttons.size() == 1) box.setEscapeButton(button);
  const int pressed = box.exec();
  for (const auto& [button, result] : buttons)
    if (pressed == button) return result;
  // Closed some other way (the window manager, the application quitting).
  return buttons.size() == 1 ? kIdOk : (set & QMessageBox::Cancel ? kIdCancel : kIdNo);
}

QFont MakeFont(const FontLayout& font, FontKind kind, uint8_t styles) {
  QFont made;
  QStringList families{QString::fromUtf8(font.face_utf8)};
  families += StandIns(kind);
  made.setFamilies(families);
  made.setPixelSize(font.height_px);
  made.setBold((styles & kStyleBold) != 0);
  made.setItalic((styles & kStyleItalic) != 0);
  made.setUnderline((styles & kStyleUnderline) != 0);
  made.setStrikeOut((styles & kStyleStrikeOut) != 0);
  return made;
}

// ---------------------------------------------------------------------------------------------
// Main window

FormWidget::FormWidget(QtWindow& window) : window_(window) {}

void FormWidget::timerEvent(QTimerEvent* event) {
  window_.TimerFired(event->timerId());
}

void FormWidget::closeEvent(QCloseEvent* event) {
  // The window goes away only through Close (or stays, when the handler takes WM_CLOSE).
  event->ignore();
  window_.Deliver(kWmClose, 0, 0);
}

QtWindow::QtWindow(QtApplication& application, const FormLayout& layout)
    : application_(application),
      layout_(layout),
      caption_(layout.caption),
      widget_(std::make_unique<FormWidget>(*this)) {
  // Single fixed border, system menu, minimise and close; no maximise, not resizable.
  widget_->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint);
  widget_->setFixedSize(layout.client_width, layout.client_height);
  widget_->setWindowTitle(FromText(caption_));
  widget_->setWindowIcon(QIcon::fromTheme(kIconName));
  widget_->setFont(MakeFont(layout.window_font, FontKind::Window, 0));
  // The button face behind everything, as the form is painted on Windows.
  QPalette palette = widget_->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  widget_->setPalette(palette);
  widget_->setAutoFillBackground(true);
  CreateControls();
}

QtWindow::~QtWindow() {
  handler_ = nullptr;
  sources_.clear();
  for (const auto& [id, qt_timer] : timers_) widget_->killTimer(qt_timer);
  timers_.clear();
  controls_.clear();
  widget_.reset();  // and the control widgets with it
  if (application_.main_ == this) application_.main_ = nullptr;
}

void QtWindow::CreateControls() {
  controls_.resize(layout_.control_count);
  for (std::size_t index = 0; index < layout_.control_count; ++index) {
    const ControlLayout& row = layout_.controls[index];
    const FontLayout& font = row.font == FontKind::Line ? layout_.line_font : layout_.window_font;
    QWidget* child = nullptr;
    switch (row.kind) {
      case ControlKind::Panel: {
        auto* label = new QLabel(widget_.get());
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignCenter);
        label->setFrameShape(QFrame::NoFrame);  // no outer bevel
        label->setText(QString::fromLatin1(row.caption));
        controls_[index] = std::make_unique<QtPanel>(row, label, font);
        child = label;
        break;
      }
      case ControlKind::Button: {
        auto* button = new QPushButton(QString::fromLatin1(row.caption), widget_.get());
        button->setAutoDefault(false);
        controls_[index] = std::make_unique<QtButton>(row, button, application_);
        child = button;
        break;
      }
      case ControlKind::ComboBox: {
        auto* combo = new QComboBox(widget_.get());
        combo->setEditable(false);  // a drop-down list
        combo->setItemDelegate(new ItemHeightDelegate(layout_.combo_item_height, combo));
        controls_[index] = std::make_unique<QtComboBox>(row, combo);
        child = combo;
        break;
      }
    }
    child->setObjectName(QString::fromLatin1(row.name));
    child->setGeometry(row.left, row.top, row.width, row.height);
    child->setFont(MakeFont(font, row.font, 0));
    if (!row.visible) child->setVisible(false);
  }
  // Keyboard focus moves in the layout's tab order.
  std::vector<std::size_t> order(layout_.control_count);
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
    return layout_.controls[a].tab_order < layout_.controls[b].tab_order;
  });
  for (std::size_t i = 1; i < order.size(); ++i)
    QWidget::setTabOrder(ControlWidget(layout_.controls[order[i - 1]].name),
                         ControlWidget(layout_.controls[order[i]].name));
}

Control* QtWindow::Find(const char* name) {
  for (auto& control : controls_)
    if (control && std::strcmp(control->layout().name, name) == 0) return control.get();
  return nullptr;
}

QWidget* QtWindow::ControlWidget(const char* name) {
  return widget_->findChild<QWidget*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

void QtWindow::SetCaption(const std::string& caption) {
  caption_ = caption;
  widget_->setWindowTitle(FromText(caption));
}

void QtWindow::Close() {
  if (application_.main_ == this) {
    // The loop ends once the handler that closed the window has returned.
    application_.Terminate();
  } else {
    widget_->hide();
  }
}

void QtWindow::SetTimer(uintptr_t id, uint32_t milliseconds) {
  // Setting a timer that runs starts it over with the new period.
  KillTimer(id);
  const int qt_timer =
      widget_->startTimer(static_cast<int>(std::max(milliseconds, kShortestTimerMs)));
  if (qt_timer != 0) timers_[id] = qt_timer;
}

void QtWindow::KillTimer(uintptr_t id) {
  const auto found = timers_.find(id);
  if (found == timers_.end()) return;
  widget_->killTimer(found->second);
  timers_.erase(found);
}

void QtWindow::TimerFired(int qt_timer) {
  for (const auto& [id, timer] : timers_) {
    if (timer == qt_timer) {
      // A window timer repeats until it is killed.
      const uintptr_t fired = id;
      Deliver(kWmTimer, fired, 0);
      return;
    }
  }
}

void* QtWindow::RegisterDeviceNotification(const DeviceInterfaceFilter& filter, uint32_t flags) {
  if (filter.size != kFilterRecordSize || filter.device_type != kDeviceTypeInterface)
    return nullptr;
  if (flags != 0 && flags != kNotifyAllInterfaceClasses) return nullptr;
  if (flags == 0 && !IsUsbDeviceInterface(filter)) return nullptr;
  if (!application_.factory_) return nullptr;
  std::unique_ptr<DeviceEventSource> source =
      application_.factory_([this](uintptr_t code) { Deliver(kWmDeviceChange, code, 0); });
  if (!source) return nullptr;
  void* handle = source.get();
  sources_[handle] = std::move(source);
  return handle;
}

void QtWindow::UnregisterDeviceNotification(void* handle) {
  // A failed registration's null handle, or one not made here, is refused as Windows does.
  sources_.erase(handle);
}

bool QtWindow::Deliver(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  try {
    if (handler_ && handler_->HandleMessage(message, wparam, lparam)) return true;
    if (message == kWmClose) {
      Close();
      return true;
    }
  } catch (...) {
    application_.HandleException();
    return true;
  }
  return false;
}

void QtWindow::ShowCentred() {
  if (!centred_) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect desktop = screen->geometry();
      widget_->move(desktop.center() - QPoint(layout_.client_width / 2, layout_.client_height / 2));
    }
    centred_ = true;
  }
  widget_->show();
  widget_->raise();
  widget_->activateWindow();
}

// ---------------------------------------------------------------------------------------------
// Application

QtApplication::QtApplication(const char* program)
    : program_(program ? program : ""),
      factory_([](DeviceEventSink sink) -> std::unique_ptr<DeviceEventSource> {
        return UdevMonitor::Open(std::move(sink));
      }) {
  argv_[0] = program_.data();
}

QtApplication::~QtApplication() {
  services_installed_.reset();
  services_.reset();
  owned_.reset();
}

void QtApplication::Initialize() {
  if (!QCoreApplication::instance()) owned_ = std::make_unique<QApplication>(argc_, argv_);
  QApplication::setQuitOnLastWindowClosed(false);
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));
  if (!services_) {
    // Whatever was in place serves the rest: the platform's, or a test's.
    services_ = std::make_unique<QtSystemServices>(System());
    services_installed_ = std::make_unique<ScopedSeams>(HostSeams{.system = services_.get()});
  }
}

std::unique_ptr<Window> QtApplication::CreateMainWindow(const FormLayout& layout) {
  Initialize();
  auto window = std::make_unique<QtWindow>(*this, layout);
  if (!main_) main_ = window.get();
  return window;
}

void QtApplication::Run(Window& main_window) {
  auto& form = static_cast<QtWindow&>(main_window);
  if (!terminated_) {
    form.ShowCentred();
    running_ = true;
    QApplication::exec();
    running_ = false;
  }
  terminated_ = true;
  form.widget().hide();
}

void QtApplication::Terminate() {
  terminated_ = true;
  if (running_) QCoreApplication::exit(0);
}

void QtApplication::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtApplication::ShowException(const std::string& message) {
  ShowMessageBox(ExceptionDisplayText(message), title_, kMbIconError | kMbOk);
}

void QtApplication::HandleException() {
  try {
    throw;
  } catch (const Exception& e) {
    ShowException(e.what());
  } catch (...) {
    ShowException("");
  }
}

}  // namespace qvb::tk::qt
