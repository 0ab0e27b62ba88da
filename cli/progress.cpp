#include "cli/progress.h"

#include <string>

#include "cli/interrupt_guard.h"

namespace qvb::cli {
namespace {

constexpr int kBarWidth = 40;
constexpr std::size_t kLabelWidth = 30;

const char* Verb(UpdatePhase phase) {
  return phase == UpdatePhase::Write ? "writing" : "reading back";
}
const char* Past(UpdatePhase phase) {
  return phase == UpdatePhase::Write ? "written" : "read back";
}

std::string AttemptLabel(int attempt) {
  return "Attempt " + std::to_string(attempt) + " of " + std::to_string(kUpdateAttempts);
}

}  // namespace

const char kInterruptRefused[] =
    "Interrupt refused: the update runs to its end, so that no write is cut off half-way.";
const char kImageDamaged[] =
    "The firmware image inside this program is damaged: its SHA-256 is not the one recorded "
    "when the program was built. Nothing was written to the device; get a fresh copy of the "
    "program.";

void ProgressView::OnImageDamaged() {
  EndPhase();
  stream_ << kImageDamaged << '\n';
  stream_.flush();
}

void ProgressView::OnAttempt(int attempt) {
  EndPhase();
  // Said even when the first attempt failed before a single piece moved.
  if (attempt > 1) stream_ << "Attempt " << attempt - 1 << " failed; trying once more.\n";
  attempt_ = attempt;
  ReportInterrupts();
  stream_.flush();
}

void ProgressView::OnWritesBegin() {
  if (guard_) guard_->Hold();
}

void ProgressView::OnProgress(UpdatePhase phase, int attempt, uint32_t done, uint32_t total) {
  // A new phase, a new attempt, or the loader path starting its pieces again from the first.
  if (!active_ || phase != phase_ || attempt != attempt_ || done <= done_ || total != total_) {
    EndPhase();
    StartPhase(phase, attempt, total);
  }
  done_ = done;
  if (terminal_) {
    Draw();
    if (done_ >= total_) EndPhase();
  } else if (done_ >= total_) {
    EndPhase();
  }
  ReportInterrupts();
  stream_.flush();
}

void ProgressView::StartPhase(UpdatePhase phase, int attempt, uint32_t total) {
  active_ = true;
  phase_ = phase;
  attempt_ = attempt;
  total_ = total;
  done_ = 0;
  if (!terminal_)
    stream_ << AttemptLabel(attempt_) << ": " << Verb(phase_) << " " << total_ << " pieces\n";
}

void ProgressView::EndPhase() {
  if (!active_) return;
  active_ = false;
  if (terminal_) {
    if (line_open_) stream_ << '\n';
    line_open_ = false;
    return;
  }
  if (done_ >= total_)
    stream_ << AttemptLabel(attempt_) << ": " << done_ << " of " << total_ << " pieces "
            << Past(phase_) << "\n";
  else
    stream_ << AttemptLabel(attempt_) << ": " << Verb(phase_) << " stopped after " << done_
            << " of " << total_ << " pieces\n";
}

void ProgressView::Draw() {
  const int filled =
      total_ == 0 ? kBarWidth : static_cast<int>(uint64_t{done_} * kBarWidth / total_);
  std::string label = AttemptLabel(attempt_) + ", " + Verb(phase_) + ":";
  label.resize(kLabelWidth, ' ');
  stream_ << '\r' << label << '[' << std::string(static_cast<std::size_t>(filled), '#')
          << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] " << done_ << '/'
          << total_;
  line_open_ = true;
}

void ProgressView::ReportInterrupts() {
  if (!guard_ || guard_->Poll() == 0) return;
  if (line_open_) stream_ << '\n';
  stream_ << kInterruptRefused << '\n';
  if (line_open_) Draw();
  stream_.flush();
}

void ProgressView::Finish() {
  EndPhase();
  ReportInterrupts();
  stream_.flush();
}

}  // namespace qvb::cli
