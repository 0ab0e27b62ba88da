#include "device/privileges.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace qvb {

#ifdef _WIN32

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

#else

const char* const kRawIoPrivilegeText =
    "Vendor commands and WRITE BUFFER need root: the kernel requires CAP_SYS_RAWIO for them "
    "even on a /dev/sg node that you may open.";
const char* const kRestartWithPrivilegeQuestion =
    "Start the updater again as root (through pkexec)?";

bool HaveRawIoPrivilege() {
  __user_cap_header_struct header{};
  header.version = _LINUX_CAPABILITY_VERSION_3;
  header.pid = 0;  // this process
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return geteuid() == 0;
  return (data[CAP_TO_INDEX(CAP_SYS_RAWIO)].effective & CAP_TO_MASK(CAP_SYS_RAWIO)) != 0;
}

#endif

}  // namespace qvb
