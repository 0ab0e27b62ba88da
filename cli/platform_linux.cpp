#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "cli/platform.h"

namespace qvb::cli {
namespace {

constexpr int kCapSysRawio = 17;

}  // namespace

bool HasDevicePrivileges() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("CapEff:", 0) != 0) continue;
    unsigned long long caps = 0;
    if (std::sscanf(line.c_str() + 7, "%llx", &caps) != 1) break;
    return (caps >> kCapSysRawio) & 1;
  }
  return geteuid() == 0;
}

const char* PrivilegeNote() {
  return "Vendor commands and WRITE BUFFER need root: the kernel requires CAP_SYS_RAWIO for "
         "them even on a /dev/sg node that you may open. Run the command with sudo.";
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
