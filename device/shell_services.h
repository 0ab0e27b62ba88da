// What closing the shell's pop-up needs of the platform: the Windows version, and finding a
// top-level window of another process and posting to it. Elsewhere there is no such pop-up.
#pragma once

#include <cstdint>

namespace qvb {

class ShellServices {
 public:
  virtual ~ShellServices() = default;
  // The running Windows version. False when it cannot be read (and on other systems).
  virtual bool GetWindowsVersion(uint32_t& major, uint32_t& minor) = 0;
  // FindWindowA by exact class and title; null when there is none.
  virtual void* FindTopLevelWindow(const char* class_name, const char* title) = 0;
  // PostMessageA; does not wait for the window to handle it.
  virtual bool PostMessage(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
};

// The services in use (see device/seams.h).
ShellServices& Shell();

}  // namespace qvb
