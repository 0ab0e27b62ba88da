#include <windows.h>

#include <string>

#include "device/host_description.h"

namespace qvb {
namespace {

// RtlGetVersion tells the version as it is; GetVersionEx lies to programs without a manifest
// entry for the newest Windows.
struct OsVersionInfo {
  ULONG size;
  ULONG major;
  ULONG minor;
  ULONG build;
  ULONG platform;
  WCHAR service_pack[128];
};
using RtlGetVersionFunction = LONG(WINAPI*)(OsVersionInfo*);

}  // namespace

std::string HostDescription() {
  std::string text = "Windows";
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto get_version = ntdll ? reinterpret_cast<RtlGetVersionFunction>(
                                 reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                           : nullptr;
  OsVersionInfo info{};
  info.size = sizeof info;
  if (get_version && get_version(&info) == 0)
    text += " " + std::to_string(info.major) + "." + std::to_string(info.minor) + "." +
            std::to_string(info.build);
  if (ntdll && GetProcAddress(ntdll, "wine_get_version")) text += " (Wine)";
  SYSTEM_INFO system{};
  GetNativeSystemInfo(&system);
  text += system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ? " x64" : " x86";
#ifdef _WIN64
  text += ", 64-bit program";
#else
  text += ", 32-bit program";
#endif
  return text;
}

}  // namespace qvb
