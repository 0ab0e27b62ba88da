#include <io.h>
#include <windows.h>

#include "cli/platform.h"

namespace qvb::cli {

bool HasDevicePrivileges() {
  // Under UAC an administrator's console that was not elevated holds the group deny-only, and
  // the check fails, as it should: the disks are opened with the filtered token.
  SID_IDENTIFIER_AUTHORITY nt_authority = {SECURITY_NT_AUTHORITY};
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
    return false;
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  FreeSid(administrators);
  return member != FALSE;
}

const char* PrivilegeNote() {
  return "This console has no administrator rights: the updater needs them to send commands "
         "to the disks. Open the console with \"Run as administrator\" and try again.";
}

uint32_t LastOpenError() {
  return GetLastError();
}

bool IsPermissionError(uint32_t code) {
  return code == ERROR_ACCESS_DENIED;
}

bool IsTerminal(int stream) {
  return _isatty(stream) != 0;
}

void PrepareProcess() {}

}  // namespace qvb::cli
