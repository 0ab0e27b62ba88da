#include <windows.h>

#include "device/privileges.h"

namespace qvb {

const char* const kRawIoPrivilegeText =
    "This program has no administrator rights: the updater needs them to send commands to the "
    "disks.";
const char* const kRestartWithPrivilegeQuestion =
    "Start the updater again with \"Run as administrator\"?";

bool HaveRawIoPrivilege() {
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

}  // namespace qvb
