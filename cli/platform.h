// What the command line needs from the host beyond the device seams: privileges, the error code
// of a failed open, terminals. One implementation per host (platform_linux, platform_win32).
#pragma once

#include <cstdint>

namespace qvb::cli {

// Linux: CAP_SYS_RAWIO in the effective set (the kernel demands it for vendor commands and
// WRITE BUFFER through SG_IO). Windows: membership of the Administrators group in effect.
bool HasDevicePrivileges();
// What is missing and what to do about it, one paragraph.
const char* PrivilegeNote();

// The platform's error code right after a failed open (errno, GetLastError).
uint32_t LastOpenError();
// Whether an error code of an open or a pass-through request means "not allowed".
bool IsPermissionError(uint32_t code);

// Whether standard input (0), output (1) or error (2) is a terminal.
bool IsTerminal(int stream);
// Process-wide set-up: a closed output pipe must not kill the program during an update.
void PrepareProcess();

}  // namespace qvb::cli
