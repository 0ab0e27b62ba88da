#include "device/win32/system_services_win32.h"

#include "device/platform_host.h"

namespace qvb {
namespace win32_host {

// The two records the version query is asked with, the same on every Windows architecture.
static_assert(sizeof(OSVERSIONINFOEXA) == kVersionInfoExSize);
static_assert(sizeof(OSVERSIONINFOA) == kVersionInfoSize);

void Win32SystemServices::Sleep(uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

void Win32SystemServices::DebugOutput(const char* text) {
  ::OutputDebugStringA(text);
}

int Win32SystemServices::MessageBox(const char* text, const char* caption, uint32_t flags) {
  return ::MessageBoxA(nullptr, text, caption, flags);
}

bool QueryWindowsVersion(uint32_t record_size, uint32_t& major, uint32_t& minor) {
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

bool Win32ShellServices::GetWindowsVersion(uint32_t& major, uint32_t& minor) {
  if (QueryWindowsVersion(kVersionInfoExSize, major, minor)) return true;
  return QueryWindowsVersion(kVersionInfoSize, major, minor);
}

void* Win32ShellServices::FindTopLevelWindow(const char* class_name, const char* title) {
  return ::FindWindowA(class_name, title);
}

bool Win32ShellServices::PostMessage(void* window, uint32_t message, uintptr_t wparam,
                                     intptr_t lparam) {
  return ::PostMessageA(static_cast<HWND>(window), message, static_cast<WPARAM>(wparam),
                        static_cast<LPARAM>(lparam)) != FALSE;
}

bool Win32SystemServices::InhibitSleep(std::string& reason) {
  // The previous state comes back on success, 0 on failure.
  if (set_state_(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) == 0) {
    reason = "SetThreadExecutionState failed";
    return false;
  }
  return true;
}

void Win32SystemServices::AllowSleep() {
  set_state_(ES_CONTINUOUS);
}

}  // namespace win32_host

SystemServices& PlatformSystemServices() {
  static win32_host::Win32SystemServices services;
  return services;
}

ShellServices& PlatformShellServices() {
  static win32_host::Win32ShellServices services;
  return services;
}

}  // namespace qvb
