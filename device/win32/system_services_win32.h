// Windows: the Win32 calls themselves. The execution-state call sits behind a function pointer
// so that what the program asks of the power manager is testable.
#pragma once

#include <windows.h>
// The interface's method names are also the system headers' A/W macros.
#undef MessageBox
#undef PostMessage

#include "device/shell_services.h"
#include "device/system_services.h"

namespace qvb::win32_host {

using SetExecutionStateFunction = EXECUTION_STATE(WINAPI*)(EXECUTION_STATE flags);

class Win32SystemServices : public SystemServices {
 public:
  explicit Win32SystemServices(SetExecutionStateFunction set_state = ::SetThreadExecutionState)
      : set_state_(set_state) {}

  void Sleep(uint32_t milliseconds) override;
  void DebugOutput(const char* text) override;
  int MessageBox(const char* text, const char* caption, uint32_t flags) override;
  // ES_CONTINUOUS | ES_SYSTEM_REQUIRED for this thread until AllowSleep puts back ES_CONTINUOUS
  // alone.
  bool InhibitSleep(std::string& reason) override;
  void AllowSleep() override;

 private:
  SetExecutionStateFunction set_state_;
};

// The two records the version query is asked with: the extended one first, the plain one when
// the system refuses it.
constexpr uint32_t kVersionInfoExSize = 156;
constexpr uint32_t kVersionInfoSize = 148;

// GetVersionExA with a record whose size field is `record_size`. False when the system refuses
// the record (or the size is one the record cannot hold).
bool QueryWindowsVersion(uint32_t record_size, uint32_t& major, uint32_t& minor);

class Win32ShellServices : public ShellServices {
 public:
  bool GetWindowsVersion(uint32_t& major, uint32_t& minor) override;
  void* FindTopLevelWindow(const char* class_name, const char* title) override;
  bool PostMessage(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam) override;
};

}  // namespace qvb::win32_host
