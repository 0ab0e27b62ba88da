// Keeps Ctrl-C (and the other requests to stop) from cutting a firmware write half-way. While a
// guard lives, such requests are held back and counted instead of acted on; the caller polls
// them to tell the user that they were refused. On POSIX hosts the signals are blocked rather
// than caught, so that no SCSI request in flight is interrupted (a caught signal would end or
// restart a waiting SG_IO). On Windows the console's control handler swallows Ctrl-C and
// Ctrl-Break.
#pragma once

#include <memory>

namespace qvb::cli {

class InterruptGuard {
 public:
  InterruptGuard();
  // Requests still pending are taken (and counted) before the old state comes back.
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // The requests that arrived since the last call (several signals of one kind that arrive
  // between two polls count once).
  int Poll();
  int total() const { return total_; }

 private:
  int total_ = 0;
  int reported_ = 0;
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qvb::cli
