// The step lines of a run's log, the same from the command line and from the window, and the
// texts they are made of: the refresh and each disk it identified, the status, each attempt and
// piece of an update, the compare, and the request a failed attempt ended at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/request_log.h"
#include "firmware/device_status.h"
#include "firmware/update.h"

namespace qvb {

// The model table's text of a model code, or null for 0 and codes outside the table.
const char* ModelText(uint8_t model_code);
// INQUIRY text without its trailing blanks and NULs.
std::string TrimIdentification(const std::string& text);
// Text safe to print: bytes outside printable ASCII become '?'.
std::string Printable(const std::string& text);
// The same, keeping line feeds: text of several lines.
std::string PrintableLines(const std::string& text);
// "Quorvel QVB886 NVMe" or "(no INQUIRY data)".
std::string IdentificationText(const ScannedDisk& disk);
// "133.1.0.3"
std::string DottedVersion(const FirmwareVersion& version);
// Why the status read failed, as a sentence fragment.
const char* StatusReadError(StatusRead outcome);

// "refresh: 2 disk(s) behind a supported bridge"
std::string RefreshStep(std::size_t disks);
// "identified PATH: IDENTIFICATION, model code N (MODEL)", ", not listed" when the window does
// not list it.
std::string DiskStep(const ScannedDisk& disk);
// "status PATH: model code N, firmware 133.1.0.3, WORDS" or "..., not read (WHY)".
std::string StatusStep(const std::string& path, const DeviceStatus& status);

// Passes everything on to `inner`, in the same order, and logs each attempt, piece and compare;
// a failed attempt names the request it failed at, its sense data and the scenario line that
// replays it. `log` may be null: then it only passes things on.
class StepLoggingObserver : public UpdateObserver {
 public:
  StepLoggingObserver(UpdateObserver& inner, RequestLog* log) : inner_(inner), log_(log) {}
  void ProcessMessages() override { inner_.ProcessMessages(); }
  // Forwarded first of all: the inner view holds the signals from the first write on.
  void OnWritesBegin() override { inner_.OnWritesBegin(); }
  void OnProgress(UpdatePhase phase, int attempt, uint32_t done, uint32_t total) override;
  void OnImageDamaged() override;
  void OnAttempt(int attempt) override;
  void OnCompared(int attempt, bool same) override;
  // Closes the last attempt once the procedure has returned.
  void Finish(bool updated);

 private:
  void EndAttempt();

  UpdateObserver& inner_;
  RequestLog* log_;
  int attempt_ = 0;
  bool attempt_open_ = false;
  bool compared_ = false;
};

}  // namespace qvb
