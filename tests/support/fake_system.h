// A SystemServices for tests: a simulated clock that pauses advance, recorded debug output and
// message boxes, and a scripted version and window list.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/seams.h"

namespace qvb::testing {

struct RecordedBox {
  std::string text;
  std::string caption;
  uint32_t flags = 0;
};

// Both the system and the shell services, installed for the object's lifetime.
class FakeSystem : public SystemServices, public ShellServices {
 public:
  FakeSystem() : installed_(HostSeams{.system = this, .shell = this}) {}
  FakeSystem(const FakeSystem&) = delete;
  FakeSystem& operator=(const FakeSystem&) = delete;

  void Sleep(uint32_t milliseconds) override {
    sleeps.push_back(milliseconds);
    now_ms += milliseconds;
    if (on_sleep) on_sleep(milliseconds);
  }
  void DebugOutput(const char* text) override { debug.emplace_back(text); }
  int MessageBox(const char* text, const char* caption, uint32_t flags) override {
    boxes.push_back({text, caption, flags});
    return on_box ? on_box(boxes.back()) : kIdOk;
  }
  bool GetWindowsVersion(uint32_t& major, uint32_t& minor) override {
    ++version_queries;
    if (!version_known) return false;
    major = version_major;
    minor = version_minor;
    return true;
  }
  void* FindTopLevelWindow(const char* class_name, const char* title) override {
    ++window_searches;
    for (auto& w : windows)
      if (w.open && w.class_name == class_name && w.title == title) return &w;
    return nullptr;
  }
  bool PostMessage(void* window, uint32_t message, uintptr_t, intptr_t) override {
    posts.push_back(message);
    auto* w = static_cast<Window*>(window);
    if (message == 0x0010 && w->closes_on_wm_close) w->open = false;
    return true;
  }
  bool InhibitSleep(std::string& reason) override {
    ++sleep_inhibits;
    if (on_inhibit) on_inhibit();
    if (!sleep_refusal.empty()) {
      reason = sleep_refusal;
      return false;
    }
    sleep_inhibited = true;
    return true;
  }
  void AllowSleep() override {
    ++sleep_allows;
    sleep_inhibited = false;
  }

  struct Window {
    std::string class_name;
    std::string title;
    bool open = true;
    bool closes_on_wm_close = true;
  };

  uint64_t now_ms = 0;
  std::vector<uint32_t> sleeps;
  std::vector<std::string> debug;
  std::vector<RecordedBox> boxes;
  std::function<int(const RecordedBox&)> on_box;
  std::function<void(uint32_t)> on_sleep;
  std::function<void()> on_inhibit;
  bool version_known = false;
  uint32_t version_major = 0;
  uint32_t version_minor = 0;
  int version_queries = 0;
  std::vector<Window> windows;
  int window_searches = 0;
  std::vector<uint32_t> posts;
  int sleep_inhibits = 0;
  int sleep_allows = 0;
  bool sleep_inhibited = false;
  std::string sleep_refusal;  // not empty: InhibitSleep fails with this reason

 private:
  ScopedSeams installed_;
};

}  // namespace qvb::testing
