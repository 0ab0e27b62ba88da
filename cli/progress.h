// The update's progress as the procedure reports it: a bar redrawn in place on a terminal,
// plain lines otherwise. It also tells the user when an interrupt was refused.
#pragma once

#include <cstdint>
#include <ostream>

#include "firmware/update.h"

namespace qvb::cli {

class InterruptGuard;

class ProgressView : public UpdateObserver {
 public:
  // `guard` may be null (nothing to poll).
  ProgressView(std::ostream& stream, bool terminal, InterruptGuard* guard)
      : stream_(stream), terminal_(terminal), guard_(guard) {}

  void ProcessMessages() override { ReportInterrupts(); }
  void OnAttempt(int attempt) override;
  void OnProgress(UpdatePhase phase, int attempt, uint32_t done, uint32_t total) override;
  void OnImageDamaged() override;
  // The guard starts holding here, not earlier.
  void OnWritesBegin() override;
  // Ends the last phase's line once the procedure has returned.
  void Finish();

  // Attempts begun, whether or not a piece moved in them.
  int attempts() const { return attempt_; }

 private:
  void StartPhase(UpdatePhase phase, int attempt, uint32_t total);
  void EndPhase();
  void Draw();
  void ReportInterrupts();

  std::ostream& stream_;
  bool terminal_;
  InterruptGuard* guard_;

  bool active_ = false;     // a phase is under way
  bool line_open_ = false;  // a bar is drawn and not yet ended by a line feed
  UpdatePhase phase_ = UpdatePhase::Write;
  int attempt_ = 0;
  uint32_t done_ = 0;
  uint32_t total_ = 0;
};

// The text that tells the user an interrupt was refused.
extern const char kInterruptRefused[];
// The reason an update ends when the carried image is not the one the build recorded.
extern const char kImageDamaged[];

}  // namespace qvb::cli
