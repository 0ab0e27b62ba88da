// Where the Linux window keeps its log: the system's log folder as root (the window runs as root
// through pkexec), else the user's state folder; virtual devices are always the user's.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/window_log.h"

namespace qvb {

std::string WindowLogFile(bool virtual_devices) {
  std::filesystem::path folder;
  if (!virtual_devices && geteuid() == 0) {
    folder = "/var/log/qvb886-fwupdate";
  } else {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    // A relative value is to be ignored, as for every XDG folder.
    if (state && state[0] == '/')
      folder = state;
    else if (home && home[0] == '/')
      folder = std::filesystem::path(home) / ".local" / "state";
    else
      return "";
    folder /= "qvb886-fwupdate";
  }
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return "";
  return (folder / "qvb886-fwupdate-gui.log").string();
}

}  // namespace qvb
