// Where a Windows host keeps the waiting records, and how it tells one start of the machine from
// the next.
#include <shlobj.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "firmware/waiting_record.h"

namespace qvb {
namespace {

// 100 ns intervals between 1601 and 1970.
constexpr unsigned long long kUnixEpochInFileTime = 116444736000000000ULL;

std::string CommonAppData() {
  char folder[MAX_PATH] = {};
  if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder))) return folder;
  const char* program_data = std::getenv("ProgramData");
  return program_data ? program_data : "";
}

std::string UserStateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0]) return state;
  const char* local = std::getenv("LOCALAPPDATA");
  return local ? local : "";
}

}  // namespace

HostMoment CurrentMoment() {
  FILETIME file_time;
  GetSystemTimeAsFileTime(&file_time);
  ULARGE_INTEGER ticks;
  ticks.LowPart = file_time.dwLowDateTime;
  ticks.HighPart = file_time.dwHighDateTime;
  HostMoment moment;
  moment.now = static_cast<int64_t>((ticks.QuadPart - kUnixEpochInFileTime) / 10000000ULL);
  // The machine started this long ago; the two clocks drift apart a little, which SameBoot
  // allows for.
  const int64_t up = static_cast<int64_t>(GetTickCount64() / 1000ULL);
  moment.boot = std::to_string(moment.now - up);
  return moment;
}

std::string WaitingRecordFolder(bool virtual_devices) {
  const std::string base = virtual_devices ? UserStateFolder() : CommonAppData();
  if (base.empty()) return "";
  return (std::filesystem::path(base) / "qvb886-fwupdate").string();
}

}  // namespace qvb
