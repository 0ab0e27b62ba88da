#include <signal.h>
#include <time.h>

#include "cli/interrupt_guard.h"

namespace qvb::cli {
namespace {

// Every signal whose default action ends the program and that a process may block. The
// synchronous faults (SEGV, BUS, FPE, ILL, TRAP, SYS, ABRT) are left alone: blocking them does
// not stop a fault from ending the program, it only hides the cause.
constexpr int kHeldSignals[] = {
    SIGHUP,    SIGINT,    SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM,
    SIGPIPE,   SIGVTALRM, SIGPROF, SIGIO,   SIGXCPU, SIGXFSZ, SIGPWR,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

sigset_t HeldSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : kHeldSignals) sigaddset(&set, signal_number);
  // The real-time signals end the program by default too.
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number)
    sigaddset(&set, signal_number);
  return set;
}

bool AnyPending(const sigset_t& held) {
  sigset_t pending;
  sigemptyset(&pending);
  if (sigpending(&pending) != 0) return false;
  for (int signal_number = 1; signal_number < NSIG; ++signal_number)
    if (sigismember(&held, signal_number) == 1 && sigismember(&pending, signal_number) == 1)
      return true;
  return false;
}

// Takes every signal of `held` that is pending, without waiting, and counts the requests to
// stop among them. A broken pipe is the program's own write meeting a closed reader, not a
// request of the user's: it is taken but not counted.
int TakePending(const sigset_t& held) {
  int taken = 0;
  while (AnyPending(held)) {
    const timespec no_wait{0, 0};
    const int signal_number = sigtimedwait(&held, nullptr, &no_wait);
    if (signal_number < 0) break;
    if (signal_number != SIGPIPE) ++taken;
  }
  return taken;
}

}  // namespace

struct InterruptGuard::State {
  sigset_t previous;
  // What the guard blocked itself: signals the caller had blocked already stay the caller's,
  // pending or not.
  sigset_t ours;
};

InterruptGuard::InterruptGuard(bool hold_now) : state_(std::make_unique<State>()) {
  if (hold_now) Hold();
}

void InterruptGuard::Hold() {
  if (holding_) return;
  const sigset_t held = HeldSet();
  if (sigprocmask(SIG_BLOCK, &held, &state_->previous) != 0) return;
  holding_ = true;
  sigemptyset(&state_->ours);
  for (int signal_number = 1; signal_number < NSIG; ++signal_number)
    if (sigismember(&held, signal_number) == 1 &&
        sigismember(&state_->previous, signal_number) != 1)
      sigaddset(&state_->ours, signal_number);
}

InterruptGuard::~InterruptGuard() {
  if (!holding_) return;
  total_ += TakePending(state_->ours);
  sigprocmask(SIG_SETMASK, &state_->previous, nullptr);
}

int InterruptGuard::Poll() {
  if (holding_) total_ += TakePending(state_->ours);
  const int fresh = total_ - reported_;
  reported_ = total_;
  return fresh;
}

}  // namespace qvb::cli
