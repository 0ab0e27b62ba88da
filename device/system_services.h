// The small platform services the logic needs besides devices: pauses, debug output, the
// message box with no owner, the version query, the top-level window search and post, and
// keeping the machine awake while firmware is written.
#pragma once

#include <cstdint>
#include <string>

namespace qvb {

// MessageBoxA flag values the program uses.
constexpr uint32_t kMbOk = 0x0000;
constexpr uint32_t kMbIconError = 0x0010;
constexpr uint32_t kMbIconWarning = 0x0030;
constexpr uint32_t kMbTaskModal = 0x2000;
constexpr int kIdOk = 1;

class SystemServices {
 public:
  virtual ~SystemServices() = default;
  virtual void Sleep(uint32_t milliseconds) = 0;
  virtual void DebugOutput(const char* text) = 0;
  // A modal message box with no owner window; returns the button pressed.
  virtual int MessageBox(const char* text, const char* caption, uint32_t flags) = 0;
  // GetVersionExA with a record whose size field is `record_size` (156 or 148).
  // False when the platform refuses the record or has no such version.
  virtual bool GetVersion(uint32_t record_size, uint32_t& major, uint32_t& minor) = 0;
  // FindWindowA by exact class and title; null when there is none.
  virtual void* FindTopLevelWindow(const char* class_name, const char* title) = 0;
  // PostMessageA; does not wait for the window to handle it.
  virtual bool PostMessage(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
  // Keeps the machine from sleeping (suspend, and sleep when idle) until AllowSleep. False,
  // with the reason, when that cannot be had; the caller then goes on without it.
  virtual bool InhibitSleep(std::string& reason) = 0;
  // Ends what a successful InhibitSleep began.
  virtual void AllowSleep() = 0;
};

SystemServices& PlatformSystemServices();
SystemServices& System();
SystemServices* InstallSystemServices(SystemServices* services);

}  // namespace qvb
