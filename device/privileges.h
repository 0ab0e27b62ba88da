// Whether this process may send the bridge's commands, and the words that say what is missing.
// The window and the command line use the same sentence.
#pragma once

namespace qvb {

// Linux: CAP_SYS_RAWIO in the effective set; without it the kernel refuses WRITE BUFFER and
// vendor opcodes through SG_IO, even on a /dev/sg node the user may open read-write.
// Windows: membership of the Administrators group in effect (an unelevated token fails).
bool HaveRawIoPrivilege();

// What is missing, one sentence; each front end adds what the user should do about it.
extern const char* const kRawIoPrivilegeText;
// The window's offer to start again with the privilege (Linux: through pkexec).
extern const char* const kRestartWithPrivilegeQuestion;

}  // namespace qvb
