// Windows: the Win32 calls themselves.
#include <windows.h>
// The interface's method names are also the system headers' A/W macros.
#undef MessageBox
#undef PostMessage

#include "device/system_services.h"

namespace qvb {
namespace {

// The two records the version query is asked with, the same on every Windows architecture.
static_assert(sizeof(OSVERSIONINFOEXA) == 156);
static_assert(sizeof(OSVERSIONINFOA) == 148);

class Win32SystemServices : public SystemServices {
 public:
  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
  void DebugOutput(const char* text) override { ::OutputDebugStringA(text); }
  int MessageBox(const char* text, const char* caption, uint32_t flags) override {
    return ::MessageBoxA(nullptr, text, caption, flags);
  }
  bool GetVersion(uint32_t record_size, uint32_t& major, uint32_t& minor) override {
    // The record is always the extended one; the size field tells the system how much of it
    // to fill. A size beyond the record would let the system write past it.
    OSVERSIONINFOEXA info{};
    if (record_size > sizeof info) return false;
    info.dwOSVersionInfoSize = record_size;
    if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return false;
    major = info.dwMajorVersion;
    minor = info.dwMinorVersion;
    return true;
  }
  void* FindTopLevelWindow(const char* class_name, const char* title) override {
    return ::FindWindowA(class_name, title);
  }
  bool PostMessage(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    return ::PostMessageA(static_cast<HWND>(window), message, static_cast<WPARAM>(wparam),
                          static_cast<LPARAM>(lparam)) != FALSE;
  }
};

}  // namespace

SystemServices& PlatformSystemServices() {
  static Win32SystemServices services;
  return services;
}

}  // namespace qvb
