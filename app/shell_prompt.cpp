#include "app/shell_prompt.h"

#include <cstdint>

#include "app/toolkit/toolkit.h"
#include "device/shell_services.h"
#include "device/system_services.h"

namespace qvb {
namespace {

bool ReadVersion(uint32_t& major, uint32_t& minor) {
  return Shell().GetWindowsVersion(major, minor);
}

}  // namespace

bool IsWindows7Up() {
  uint32_t major = 0, minor = 0;
  return ReadVersion(major, minor) && major == 6 && minor >= 1;
}

bool IsWindows8() {
  uint32_t major = 0, minor = 0;
  return ReadVersion(major, minor) && major == 6 && (minor == 2 || minor == 3);
}

bool IsWindows10() {
  uint32_t major = 0, minor = 0;
  return ReadVersion(major, minor) && major == 10 && minor == 0;
}

int DismissShellPrompt() {
  void* dialog = Shell().FindTopLevelWindow("#32770", "Microsoft Windows");
  if (!dialog) return 0;
  Shell().PostMessage(dialog, tk::kWmClose, 0, 0);
  return 1;
}

void RunShellPromptClosingLoop() {
  if (!(IsWindows7Up() || IsWindows8() || IsWindows10())) return;
  for (int i = 0; i < kDismissCalls; ++i) {
    DismissShellPrompt();
    System().Sleep(kDismissPauseMs);
  }
}

}  // namespace qvb
