#include <io.h>
#include <windows.h>

#include <string>

#include "cli/platform.h"
#include "device/privileges.h"

namespace qvb::cli {

const char* PrivilegeNote() {
  static const std::string note = std::string(kRawIoPrivilegeText) +
                                  " Open the console with \"Run as administrator\" and try again.";
  return note.c_str();
}

bool IsTerminal(int stream) {
  return _isatty(stream) != 0;
}

void PrepareProcess() {}

}  // namespace qvb::cli
