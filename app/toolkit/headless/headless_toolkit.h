// The toolkit without a screen, for tests: every text, style, colour, visibility, enabled state
// and list is recorded; a simulated clock drives the window timers; "process pending messages"
// delivers what the test queued.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/toolkit/toolkit.h"

namespace qvb::tk::headless {

class HeadlessWindow;

class HeadlessApplication : public Application {
 public:
  void Initialize() override { initialized_ = true; }
  void SetTitle(const std::string& title) override { title_ = title; }
  std::string Title() const override { return title_; }
  std::unique_ptr<Window> CreateMainWindow(const FormLayout& layout) override;
  // Shows the window and handles messages until it closes or nothing is left to do: the queue is
  // empty and no timer is armed (a real loop would wait; a test has nothing more to send).
  void Run(Window& main_window) override;
  void ProcessMessages() override;
  void ShowException(const std::string& message) override;

  // --- for tests ---
  uint64_t now() const { return now_ms_; }
  // Moves the clock on without handling anything (what a blocking pause does).
  void AdvanceClock(uint64_t milliseconds) { now_ms_ += milliseconds; }
  // Lets time pass in the message loop: every timer that falls due is delivered at its time.
  void RunFor(uint64_t milliseconds);
  // Queues a message for the main window, handled at the next ProcessMessages or RunFor.
  void PostToMain(uint32_t message, uintptr_t wparam, intptr_t lparam = 0);
  // Queues an action (a click, say) for the next ProcessMessages.
  void Queue(std::function<void()> action) { queue_.push_back(std::move(action)); }
  int process_messages_calls() const { return process_messages_calls_; }
  bool initialized() const { return initialized_; }
  std::vector<std::string> exceptions_shown;
  // Every device-notification unregistration of any window, kept beyond the window's life.
  std::vector<void*> unregistrations;
  HeadlessWindow* main_window() { return main_; }

 private:
  friend class HeadlessWindow;
  bool DeliverDueTimer();
  std::string title_;
  bool initialized_ = false;
  uint64_t now_ms_ = 0;
  std::deque<std::function<void()>> queue_;
  HeadlessWindow* main_ = nullptr;
  int process_messages_calls_ = 0;
};

class HeadlessWindow : public Window {
 public:
  HeadlessWindow(HeadlessApplication& app, const FormLayout& layout);
  ~HeadlessWindow() override;

  Control* Find(const char* name) override;
  void SetCaption(const std::string& caption) override {
    caption_ = caption;
    events.push_back("caption");
  }
  std::string Caption() const override { return caption_; }
  void SetMessageHandler(MessageHandler* handler) override { handler_ = handler; }
  void Close() override { closed_ = true; }
  void SetTimer(uintptr_t id, uint32_t milliseconds) override;
  void KillTimer(uintptr_t id) override { timers_.erase(id); }
  void* RegisterDeviceNotification(const DeviceInterfaceFilter& filter, uint32_t flags) override;
  void UnregisterDeviceNotification(void* handle) override;

  // --- for tests ---
  // Delivers a message as the system would: to the handler, then nothing else.
  bool Deliver(uint32_t message, uintptr_t wparam, intptr_t lparam = 0);
  bool closed() const { return closed_; }
  bool shown() const { return shown_; }
  void set_shown() { shown_ = true; }
  bool TimerArmed(uintptr_t id) const { return timers_.count(id) != 0; }
  // When the timer falls due next, in the application's clock.
  uint64_t TimerDue(uintptr_t id) const { return timers_.at(id).due; }
  bool registration_fails = false;
  std::vector<DeviceInterfaceFilter> registrations;
  std::vector<uint32_t> registration_flags;
  std::vector<void*> unregistrations;
  void* live_registration() const { return live_registration_; }
  // A log of what happened to the window, in order ("register", "caption", "unregister", ...).
  std::vector<std::string> events;

 private:
  friend class HeadlessApplication;
  struct Timer {
    uint32_t period;
    uint64_t due;
  };
  HeadlessApplication& app_;
  std::string caption_;
  MessageHandler* handler_ = nullptr;
  std::vector<std::unique_ptr<Control>> controls_;
  std::map<uintptr_t, Timer> timers_;
  bool closed_ = false;
  bool shown_ = false;
  int registration_token_ = 0;
  void* live_registration_ = nullptr;
};

// Clicks a button as the user would: only a visible, enabled button runs its handler.
// Returns whether the handler ran.
bool Click(Control* button);

}  // namespace qvb::tk::headless
