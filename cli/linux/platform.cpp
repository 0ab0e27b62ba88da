#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/platform.h"
#include "device/privileges.h"

namespace qvb::cli {
bool HasDevicePrivileges() {
  return HaveRawIoPrivilege();
}

const char* PrivilegeNote() {
  static const std::string note = std::string(kRawIoPrivilegeText) + " Run the command with sudo.";
  return note.c_str();
}

uint32_t LastOpenError() {
  return static_cast<uint32_t>(errno);
}

bool IsPermissionError(uint32_t code) {
  return code == EACCES || code == EPERM;
}

bool IsTerminal(int stream) {
  return isatty(stream) == 1;
}

void PrepareProcess() {
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace qvb::cli
