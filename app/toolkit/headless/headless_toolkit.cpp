#include "app/toolkit/headless/headless_toolkit.h"

#include <cstring>

namespace qvb::tk::headless {
namespace {

class ControlBase {
 public:
  explicit ControlBase(const ControlLayout& layout)
      : layout_(layout), text_(layout.caption), visible_(layout.visible) {}

 protected:
  const ControlLayout& layout_;
  std::string text_;
  bool visible_;
  bool enabled_ = true;
};

#define QVB_HEADLESS_CONTROL_COMMON                \
  const ControlLayout& layout() const override {   \
    return layout_;                                \
  }                                                \
  void SetText(const std::string& text) override { \
    text_ = text;                                  \
  }                                                \
  std::string Text() const override {              \
    return text_;                                  \
  }                                                \
  void SetVisible(bool visible) override {         \
    visible_ = visible;                            \
  }                                                \
  bool Visible() const override {                  \
    return visible_;                               \
  }                                                \
  void SetEnabled(bool enabled) override {         \
    enabled_ = enabled;                            \
  }                                                \
  bool Enabled() const override {                  \
    return enabled_;                               \
  }

class HeadlessPanel : public Panel, ControlBase {
 public:
  using ControlBase::ControlBase;
  QVB_HEADLESS_CONTROL_COMMON
  void SetFontStyle(uint8_t styles) override { style_ = styles; }
  uint8_t FontStyle() const override { return style_; }
  void SetFontColor(uint32_t color) override { color_ = color; }
  uint32_t FontColor() const override { return color_; }

 private:
  uint8_t style_ = 0;
  uint32_t color_ = kClWindowText;
};

class HeadlessButton : public Button, ControlBase {
 public:
  using ControlBase::ControlBase;
  QVB_HEADLESS_CONTROL_COMMON
  void SetOnClick(std::function<void()> handler) override { on_click_ = std::move(handler); }
  bool Click() {
    if (!visible_ || !enabled_ || !on_click_) return false;
    on_click_();
    return true;
  }

 private:
  std::function<void()> on_click_;
};

class HeadlessComboBox : public ComboBox, ControlBase {
 public:
  using ControlBase::ControlBase;
  QVB_HEADLESS_CONTROL_COMMON
  void Clear() override {
    items_.clear();
    index_ = -1;
  }
  void AddItem(const std::string& text) override { items_.push_back(text); }
  int Count() const override { return static_cast<int>(items_.size()); }
  std::string Item(int index) const override {
    return index >= 0 && index < Count() ? items_[static_cast<std::size_t>(index)] : "";
  }
  void SetItemIndex(int index) override { index_ = index >= 0 && index < Count() ? index : -1; }
  int ItemIndex() const override { return index_; }

 private:
  std::vector<std::string> items_;
  int index_ = -1;
};

#undef QVB_HEADLESS_CONTROL_COMMON

}  // namespace

bool Click(Control* button) {
  auto* headless = dynamic_cast<HeadlessButton*>(button);
  return headless && headless->Click();
}

std::unique_ptr<Window> HeadlessApplication::CreateMainWindow(const FormLayout& layout) {
  auto window = std::make_unique<HeadlessWindow>(*this, layout);
  if (!main_) main_ = window.get();
  return window;
}

void HeadlessApplication::Run(Window& main_window) {
  auto& window = static_cast<HeadlessWindow&>(main_window);
  window.set_shown();
  while (!window.closed()) {
    if (!queue_.empty()) {
      ProcessMessages();
      continue;
    }
    if (window.timers_.empty()) break;
    uint64_t next = UINT64_MAX;
    for (const auto& [id, timer] : window.timers_) next = std::min(next, timer.due);
    if (next > now_ms_) now_ms_ = next;
    DeliverDueTimer();
  }
}

void HeadlessApplication::ProcessMessages() {
  ++process_messages_calls_;
  // What is waiting now is handled; what the handlers queue waits for the next call.
  std::deque<std::function<void()>> waiting;
  waiting.swap(queue_);
  while (!waiting.empty()) {
    auto action = std::move(waiting.front());
    waiting.pop_front();
    action();
  }
  while (DeliverDueTimer()) {
  }
}

bool HeadlessApplication::DeliverDueTimer() {
  if (!main_) return false;
  for (auto& [id, timer] : main_->timers_) {
    if (timer.due <= now_ms_) {
      const uintptr_t fired = id;
      timer.due = now_ms_ + timer.period;  // a window timer repeats until it is killed
      main_->Deliver(kWmTimer, fired, 0);
      return true;
    }
  }
  return false;
}

void HeadlessApplication::RunFor(uint64_t milliseconds) {
  const uint64_t end = now_ms_ + milliseconds;
  ProcessMessages();
  for (;;) {
    uint64_t next = UINT64_MAX;
    if (main_)
      for (const auto& [id, timer] : main_->timers_) next = std::min(next, timer.due);
    if (next > end) break;
    if (next > now_ms_) now_ms_ = next;
    DeliverDueTimer();
    ProcessMessages();
  }
  now_ms_ = end;
}

void HeadlessApplication::PostToMain(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  queue_.push_back([this, message, wparam, lparam] {
    if (main_) main_->Deliver(message, wparam, lparam);
  });
}

void HeadlessApplication::ShowException(const std::string& message) {
  exceptions_shown.push_back(ExceptionDisplayText(message));
}

HeadlessWindow::HeadlessWindow(HeadlessApplication& app, const FormLayout& layout)
    : app_(app), caption_(layout.caption) {
  for (std::size_t i = 0; i < layout.control_count; ++i) {
    const ControlLayout& row = layout.controls[i];
    switch (row.kind) {
      case ControlKind::Panel:
        controls_.push_back(std::make_unique<HeadlessPanel>(row));
        break;
      case ControlKind::Button: {
        auto button = std::make_unique<HeadlessButton>(row);
        controls_.push_back(std::move(button));
        break;
      }
      case ControlKind::ComboBox:
        controls_.push_back(std::make_unique<HeadlessComboBox>(row));
        break;
    }
  }
}

HeadlessWindow::~HeadlessWindow() {
  if (app_.main_ == this) app_.main_ = nullptr;
}

Control* HeadlessWindow::Find(const char* name) {
  for (auto& control : controls_)
    if (std::strcmp(control->layout().name, name) == 0) return control.get();
  return nullptr;
}

void HeadlessWindow::SetTimer(uintptr_t id, uint32_t milliseconds) {
  timers_[id] = Timer{milliseconds, app_.now_ms_ + milliseconds};
  events.push_back("timer " + std::to_string(id));
}

void* HeadlessWindow::RegisterDeviceNotification(const DeviceInterfaceFilter& filter,
                                                 uint32_t flags) {
  events.push_back("register");
  registrations.push_back(filter);
  registration_flags.push_back(flags);
  if (registration_fails) return nullptr;
  live_registration_ = &registration_token_;
  return live_registration_;
}

void HeadlessWindow::UnregisterDeviceNotification(void* handle) {
  events.push_back("unregister");
  unregistrations.push_back(handle);
  app_.unregistrations.push_back(handle);
  if (handle == live_registration_) live_registration_ = nullptr;
}

bool HeadlessWindow::Deliver(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (message == kWmClose) {
    closed_ = true;
    return true;
  }
  return handler_ ? handler_->HandleMessage(message, wparam, lparam) : false;
}

}  // namespace qvb::tk::headless
