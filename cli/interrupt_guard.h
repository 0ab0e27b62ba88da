// Keeps Ctrl-C (and every other request to stop that can be held back) from cutting a firmware
// write half-way. While a guard holds, such requests are held back and counted instead of acted
// on; the caller polls them to tell the user that they were refused. On POSIX hosts every
// signal that can be blocked and whose default is to end the program is blocked rather than
// caught, so that no SCSI request in flight is interrupted (a caught signal would end or
// restart a waiting SG_IO); SIGKILL and SIGSTOP cannot be held by anyone. On Windows the
// console's control handler swallows Ctrl-C and Ctrl-Break, and keeps a closing console or an
// ending session waiting for as long as the system allows.
#pragma once

#include <memory>

namespace qvb::cli {

class InterruptGuard {
 public:
  // Holds from construction on, or, with `hold_now` false, from the first Hold(): the update
  // starts its guard at the first write, so that nothing before it (the scan, the confirmation,
  // the sleep inhibitor's request) runs with the user's Ctrl-C refused.
  explicit InterruptGuard(bool hold_now = true);
  // Requests still pending are taken (and counted) before the old state comes back.
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // Starts holding; a second call changes nothing.
  void Hold();
  bool holding() const { return holding_; }

  // The requests that arrived since the last call (several signals of one kind that arrive
  // between two polls count once).
  int Poll();
  int total() const { return total_; }

 private:
  bool holding_ = false;
  int total_ = 0;
  int reported_ = 0;
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qvb::cli
