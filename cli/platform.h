// What the command line needs from the host beyond the device seams: privileges, terminals.
// One implementation per host (cli/linux, cli/win32).
#pragma once

namespace qvb::cli {

// Linux: CAP_SYS_RAWIO in the effective set (the kernel demands it for vendor commands and
// WRITE BUFFER through SG_IO). Windows: membership of the Administrators group in effect.
bool HasDevicePrivileges();
// What is missing and what to do about it, one paragraph.
const char* PrivilegeNote();

// Whether standard input (0), output (1) or error (2) is a terminal.
bool IsTerminal(int stream);
// Process-wide set-up: a closed output pipe must not kill the program during an update.
void PrepareProcess();

}  // namespace qvb::cli
