#include <windows.h>

#include <atomic>

#include "cli/interrupt_guard.h"

namespace qvb::cli {
namespace {

std::atomic<int> g_requests{0};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI HoldBreak(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  g_requests.fetch_add(1);
  return TRUE;
}

}  // namespace

struct InterruptGuard::State {
  int start = 0;
};

InterruptGuard::InterruptGuard() : state_(std::make_unique<State>()) {
  state_->start = g_requests.load();
  SetConsoleCtrlHandler(HoldBreak, TRUE);
}

InterruptGuard::~InterruptGuard() {
  SetConsoleCtrlHandler(HoldBreak, FALSE);
  total_ = g_requests.load() - state_->start;
}

int InterruptGuard::Poll() {
  total_ = g_requests.load() - state_->start;
  const int fresh = total_ - reported_;
  reported_ = total_;
  return fresh;
}

}  // namespace qvb::cli
