// A log of what passes the transport seam: one line per request (time, request number, device,
// command block, direction and length, result, SCSI status, residue, sense data, system error,
// duration) and the procedure's own step lines between them. The data of a request is never
// written, only the sense data that REQUEST SENSE returns: the firmware image stays out of it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "device/guarded_scsi_host.h"
#include "device/seams.h"

namespace qvb {

// The command names of the virtual bridge's scenario files ("inquiry", "write_buffer", "probe",
// ...), so that a request named in a log becomes a `fault = NAME ...` line.
std::string RequestName(const uint8_t* cdb, std::size_t length);

// Hex bytes separated by blanks: "12 00 00 00 28".
std::string HexBytes(const uint8_t* bytes, std::size_t length);

class RequestLog {
 public:
  // Microseconds on a clock that only moves forward, and the wall time as text for each line.
  using Clock = std::function<uint64_t()>;
  using WallClock = std::function<std::string()>;

  // `file` receives every line; `steps` (may be null) only the step lines.
  RequestLog(ScsiHost& inner, std::ostream* file, std::ostream* steps);
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;
  ~RequestLog();

  void SetClocks(Clock monotonic, WallClock wall);
  // Puts the log over the active SCSI host until it is destroyed.
  void Install();
  // A step of the procedure, as one line.
  void Step(const std::string& text);
  // A line for the file alone (the run's header).
  void Note(const std::string& text);

  // The first failed request since the last ForgetFailure(): what it was and how to have the
  // virtual bridge fail the same way.
  struct Failure {
    int index = 0;
    std::string description;  // "#41 write_buffer mode 0E offset 0x001400 length 1024: ..."
    std::string fault;        // "fault = write_buffer check_condition from=41 times=1"
    uint32_t offset = 0;      // READ/WRITE BUFFER's buffer offset
    bool buffer_command = false;
  };
  const std::optional<Failure>& first_failure() const { return first_failure_; }
  void ForgetFailure() { first_failure_.reset(); }
  int requests() const { return requests_; }

  ScsiHost& host() { return guard_; }

 private:
  void Line(const std::string& text, bool step);
  void Before();
  void After(const std::string& path, const ScsiRequest& request, const ScsiResult& result);
  void Opened(const char* path, ShareMode share, const ScsiResult& result);

  GuardedScsiHost guard_;
  std::ostream* file_;
  std::ostream* steps_;
  Clock monotonic_;
  WallClock wall_;
  uint64_t started_ = 0;
  int requests_ = 0;
  std::optional<Failure> first_failure_;
  std::unique_ptr<ScopedSeams> installed_;
};

}  // namespace qvb
