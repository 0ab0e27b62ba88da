#include <signal.h>
#include <time.h>

#include "cli/interrupt_guard.h"

namespace qvb::cli {
namespace {

constexpr int kHeldSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

sigset_t HeldSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : kHeldSignals) sigaddset(&set, signal_number);
  return set;
}

// Takes every held signal that is pending, without waiting.
int TakePending() {
  const sigset_t held = HeldSet();
  int taken = 0;
  for (;;) {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0) return taken;
    bool any = false;
    for (int signal_number : kHeldSignals) any = any || sigismember(&pending, signal_number) == 1;
    if (!any) return taken;
    const timespec no_wait{0, 0};
    if (sigtimedwait(&held, nullptr, &no_wait) < 0) return taken;
    ++taken;
  }
}

}  // namespace

struct InterruptGuard::State {
  sigset_t previous;
};

InterruptGuard::InterruptGuard() : state_(std::make_unique<State>()) {
  const sigset_t held = HeldSet();
  sigprocmask(SIG_BLOCK, &held, &state_->previous);
}

InterruptGuard::~InterruptGuard() {
  total_ += TakePending();
  sigprocmask(SIG_SETMASK, &state_->previous, nullptr);
}

int InterruptGuard::Poll() {
  total_ += TakePending();
  const int fresh = total_ - reported_;
  reported_ = total_;
  return fresh;
}

}  // namespace qvb::cli
