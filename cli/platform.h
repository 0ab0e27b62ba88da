// What the command line needs from the host beyond the device seams and the privilege check
// (device/privileges.h): the privilege note, terminals, the process set-up. One implementation
// per host, listed in host/<host>/host.cmake.
#pragma once

namespace qvb::cli {

// What is missing and what to do about it, one paragraph.
const char* PrivilegeNote();

// Whether standard input (0), output (1) or error (2) is a terminal.
bool IsTerminal(int stream);
// Process-wide set-up: a closed output pipe must not kill the program during an update.
void PrepareProcess();

}  // namespace qvb::cli
