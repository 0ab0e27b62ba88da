// Closing the shell's "Microsoft Windows" pop-up about a newly attached disk.
#pragma once

namespace qvb {

constexpr int kDismissCalls = 101;
constexpr unsigned kDismissPauseMs = 2;

bool IsWindows7Up();
bool IsWindows8();
bool IsWindows10();
// 1 when a dialog was found and asked to close, 0 when none was found.
int DismissShellPrompt();
// On the versions the predicates select: 101 dismissals with a 2 ms pause after each.
void RunShellPromptClosingLoop();

}  // namespace qvb
