#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "device/privileges.h"

namespace qvb {

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

}  // namespace qvb
