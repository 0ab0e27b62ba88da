#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/platform.h"
#include "device/privileges.h"

namespace qvb::cli {
const char* PrivilegeNote() {
  static const std::string note = std::string(kRawIoPrivilegeText) + " Run the command with sudo.";
  return note.c_str();
}

bool IsTerminal(int stream) {
  return isatty(stream) == 1;
}

void PrepareProcess() {
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace qvb::cli
