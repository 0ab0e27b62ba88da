#include "firmware/run_steps.h"

#include <cstdio>

#include "device/identification.h"
#include "firmware/screen.h"

namespace qvb {

const char* ModelText(uint8_t model_code) {
  if (model_code == 0 || model_code >= kModelTableRows) return nullptr;
  return kModelTable[model_code];
}

std::string TrimIdentification(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\0')) --end;
  return text.substr(0, end);
}

std::string Printable(const std::string& text) {
  std::string result = text;
  for (char& c : result) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) c = '?';
  }
  return result;
}

std::string PrintableLines(const std::string& text) {
  std::string result;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    result += Printable(text.substr(start, end - start)) + '\n';
  return result + Printable(text.substr(start));
}

std::string IdentificationText(const ScannedDisk& disk) {
  if (!disk.inquiry_ok) return "(no INQUIRY data)";
  const std::string vendor = TrimIdentification(disk.vendor);
  const std::string product = TrimIdentification(disk.product);
  if (vendor.empty()) return Printable(product);
  if (product.empty()) return Printable(vendor);
  return Printable(vendor + " " + product);
}

std::string DottedVersion(const FirmwareVersion& v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch) +
         "." + std::to_string(v.build);
}

const char* StatusReadError(StatusRead outcome) {
  switch (outcome) {
    case StatusRead::Read:
      return "";
    case StatusRead::NotQvb886:
      return "the bridge is not a QVB886";
    case StatusRead::ConfigFailed:
      return "the bridge did not return its configuration";
    case StatusRead::InfoFailed:
      return "the bridge did not return its information block";
  }
  return "";
}

std::string RefreshStep(std::size_t disks) {
  return "refresh: " + std::to_string(disks) + " disk(s) behind a supported bridge";
}

std::string DiskStep(const ScannedDisk& disk) {
  const char* model = ModelText(disk.model_code);
  return "identified " + Printable(disk.path) + ": " + IdentificationText(disk) + ", model code " +
         std::to_string(disk.model_code) + " (" + (model ? model : "not recognised") + ")" +
         (disk.listed() ? "" : ", not listed");
}

std::string StatusStep(const std::string& path, const DeviceStatus& status) {
  std::string text =
      "status " + Printable(path) + ": model code " + std::to_string(status.model_code) + ", ";
  if (status.outcome == StatusRead::Read) {
    text += "firmware " + DottedVersion(status.version) + ", " + StatusWords(status.status);
  } else {
    text += std::string("not read (") + StatusReadError(status.outcome) + ")";
  }
  return text;
}

void StepLoggingObserver::OnProgress(UpdatePhase phase, int attempt, uint32_t done,
                                     uint32_t total) {
  inner_.OnProgress(phase, attempt, done, total);
  if (!log_) return;
  char text[96];
  std::snprintf(text, sizeof text, "attempt %d %s piece %u/%u at offset 0x%06X done", attempt,
                phase == UpdatePhase::Write ? "write" : "read-back", done, total,
                (done - 1) * kPieceSize);
  log_->Step(text);
}

void StepLoggingObserver::OnImageDamaged() {
  inner_.OnImageDamaged();
  if (log_) log_->Step("the carried image does not match its recorded SHA-256: nothing sent");
}

void StepLoggingObserver::OnAttempt(int attempt) {
  inner_.OnAttempt(attempt);
  EndAttempt();
  attempt_ = attempt;
  attempt_open_ = true;
  compared_ = false;
  if (!log_) return;
  log_->ForgetFailure();
  log_->Step("attempt " + std::to_string(attempt) + " of " + std::to_string(kUpdateAttempts) +
             " begins");
}

void StepLoggingObserver::OnCompared(int attempt, bool same) {
  inner_.OnCompared(attempt, same);
  compared_ = true;
  if (log_)
    log_->Step("attempt " + std::to_string(attempt) + " compare: " +
               (same ? "the read-back equals the image" : "the read-back differs from the image"));
}

void StepLoggingObserver::EndAttempt() {
  if (!attempt_open_) return;
  attempt_open_ = false;
  if (!log_ || compared_) return;
  const auto& failure = log_->first_failure();
  std::string text = "attempt " + std::to_string(attempt_) + " failed";
  if (failure) {
    if (failure->buffer_command)
      text += " at piece " + std::to_string(failure->offset / kPieceSize + 1);
    text += ": " + failure->description + " (to replay: " + failure->fault + ")";
  } else {
    text += " without a failed request (the bridge's descriptor was not the form expected)";
  }
  log_->Step(text);
}

void StepLoggingObserver::Finish(bool) {
  EndAttempt();
}

}  // namespace qvb
