// Where the Windows window keeps its log: the user's local application data folder.
#include <shlobj.h>
#include <windows.h>

#include <cstdlib>

#include "app/window_log.h"

namespace qvb {

std::string WindowLogFile(bool) {
  char local[MAX_PATH] = {};
  std::string base;
  if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local))) {
    base = local;
  } else if (const char* variable = std::getenv("LOCALAPPDATA")) {
    base = variable;
  }
  if (base.empty()) return "";
  const std::string folder = base + "\\QVB886FWUpdate";
  if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    return "";
  return folder + "\\qvb886-fwupdate.log";
}

}  // namespace qvb
