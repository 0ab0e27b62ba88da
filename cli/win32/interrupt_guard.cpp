#include <windows.h>

#include <atomic>

#include "cli/interrupt_guard.h"

namespace qvb::cli {
namespace {

std::atomic<int> g_requests{0};
// Set while a guard holds; the handler of a closing console waits for it to be reset.
HANDLE g_released = nullptr;

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI HoldBreak(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_requests.fetch_add(1);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The system ends the process once this handler returns (or after its own time limit):
      // waiting here until the update is over is the longest the write can be given.
      g_requests.fetch_add(1);
      if (g_released) WaitForSingleObject(g_released, INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

struct InterruptGuard::State {
  int start = 0;
};

InterruptGuard::InterruptGuard(bool hold_now) : state_(std::make_unique<State>()) {
  if (hold_now) Hold();
}

void InterruptGuard::Hold() {
  if (holding_) return;
  // Manual reset, not signalled: a closing console waits until the guard ends.
  if (!g_released) g_released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (g_released) ResetEvent(g_released);
  state_->start = g_requests.load();
  holding_ = SetConsoleCtrlHandler(HoldBreak, TRUE) != FALSE;
}

InterruptGuard::~InterruptGuard() {
  if (!holding_) return;
  total_ = g_requests.load() - state_->start;
  // A handler still waiting is let go before this one is removed.
  if (g_released) SetEvent(g_released);
  SetConsoleCtrlHandler(HoldBreak, FALSE);
}

int InterruptGuard::Poll() {
  if (holding_) total_ = g_requests.load() - state_->start;
  const int fresh = total_ - reported_;
  reported_ = total_;
  return fresh;
}

}  // namespace qvb::cli
