#include "device/request_log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace qvb {
namespace {

uint64_t SteadyMicroseconds() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  return text;
}

const char* OutcomeWord(ScsiOutcome outcome) {
  switch (outcome) {
    case ScsiOutcome::Done:
      return "done";
    case ScsiOutcome::ScsiStatus:
      return "scsi_status";
    case ScsiOutcome::OsError:
      return "os_error";
    case ScsiOutcome::Permission:
      return "permission";
    case ScsiOutcome::Busy:
      return "busy";
  }
  return "?";
}

uint32_t Get24(const uint8_t* cdb, std::size_t at) {
  return (uint32_t{cdb[at]} << 16) | (uint32_t{cdb[at + 1]} << 8) | uint32_t{cdb[at + 2]};
}

}  // namespace

std::string RequestName(const uint8_t* cdb, std::size_t length) {
  if (length == 0) return "unknown";
  switch (cdb[0]) {
    case 0x12:
      return "inquiry";
    case 0x03:
      return "request_sense";
    case 0x3C:
      return "read_buffer";
    case 0x3B:
      return "write_buffer";
    case 0xE0:
      return "info";
    case 0xFE:
      return "info_alt";
    case 0xB5:
      return "vendor_page";
    case 0xDF:
      if (length < 12) return "unknown";
      if (cdb[11] == 0xFF) return "probe";
      if (cdb[11] == 0xFD) return "memory";
      if (cdb[11] == 0xFB) return "control";
      return "unknown";
    case 0xFF:
      if (length < 3 || cdb[1] != 0x04) return "unknown";
      if (cdb[2] == 0x12) return "flash_status";
      if (cdb[2] == 0x15) return "flash_id";
      if (cdb[2] == 0x23) return "config";
      if (cdb[2] == 0x30) return "name";
      return "unknown";
    default:
      return "unknown";
  }
}

std::string HexBytes(const uint8_t* bytes, std::size_t length) {
  std::string text;
  char byte[4];
  for (std::size_t i = 0; i < length; ++i) {
    std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += byte;
  }
  return text;
}

RequestLog::RequestLog(ScsiHost& inner, std::ostream* file, std::ostream* steps)
    : guard_(inner), file_(file), steps_(steps), monotonic_(SteadyMicroseconds), wall_(UtcNow) {
  guard_.before_send = [this](const std::string&, const ScsiRequest&) -> std::optional<ScsiResult> {
    Before();
    return std::nullopt;
  };
  guard_.after_send = [this](const std::string& path, const ScsiRequest& request,
                             const ScsiResult& result) { After(path, request, result); };
  guard_.after_open = [this](const char* path, ShareMode share, const ScsiResult& result) {
    Opened(path, share, result);
  };
}

RequestLog::~RequestLog() = default;

void RequestLog::SetClocks(Clock monotonic, WallClock wall) {
  monotonic_ = std::move(monotonic);
  wall_ = std::move(wall);
}

void RequestLog::Install() {
  if (!installed_) installed_ = std::make_unique<ScopedSeams>(HostSeams{.scsi = &guard_});
}

void RequestLog::Line(const std::string& text, bool step) {
  const std::string line = wall_() + " " + text + "\n";
  if (file_) {
    *file_ << line;
    file_->flush();  // a crash or a pulled plug keeps what came before
  }
  if (step && steps_) *steps_ << "qvb886-fwupdate: " << text << "\n";
}

void RequestLog::Step(const std::string& text) {
  Line("step " + text, true);
}

void RequestLog::Note(const std::string& text) {
  Line(text, false);
}

void RequestLog::Before() {
  started_ = monotonic_();
}

void RequestLog::Opened(const char* path, ShareMode share, const ScsiResult& result) {
  if (result.ok()) return;  // a successful open is implied by the request line that follows
  std::string text = "open ";
  text += path ? path : "(null)";
  text += share == ShareMode::Exclusive ? " exclusive" : " shared";
  text += std::string(" -> ") + OutcomeWord(result.outcome) +
          " os_error=" + std::to_string(result.os_error);
  text += " [replay: fault = any vanish from=" + std::to_string(requests_) + "]";
  Line(text, false);
  if (!first_failure_) {
    Failure failure;
    failure.index = requests_;
    failure.description = "open of " + std::string(path ? path : "") + ": " +
                          OutcomeWord(result.outcome) + " " + std::to_string(result.os_error);
    failure.fault = "fault = any vanish from=" + std::to_string(requests_);
    first_failure_ = failure;
  }
}

void RequestLog::After(const std::string& path, const ScsiRequest& request,
                       const ScsiResult& result) {
  const uint64_t took = monotonic_() - started_;
  const int index = requests_++;
  const std::size_t cdb_length = std::min<std::size_t>(request.cdb_length, kMaxCdbLength);
  const std::string name = RequestName(request.cdb, cdb_length);
  const bool data_in = request.direction == ScsiDirection::FromDevice;
  const uint32_t residue = result.transferred < request.transfer_length
                               ? request.transfer_length - result.transferred
                               : 0;
  char status[8];
  std::snprintf(status, sizeof status, "%02X", result.scsi_status);
  char duration[32];
  std::snprintf(duration, sizeof duration, "%llu.%03llums",
                static_cast<unsigned long long>(took / 1000),
                static_cast<unsigned long long>(took % 1000));

  std::string text = "#" + std::to_string(index) + " " + path + " " + name +
                     " cdb=" + HexBytes(request.cdb, cdb_length) + (data_in ? " in " : " out ") +
                     std::to_string(request.transfer_length) + " -> " +
                     OutcomeWord(result.outcome) + " status=" + status +
                     " residue=" + std::to_string(residue) +
                     " os_error=" + std::to_string(result.os_error) + " " + duration;
  // REQUEST SENSE's reply is the sense data of the failure before it; no other data is logged.
  if (name == "request_sense" && data_in && result.ok() && request.data) {
    const std::size_t n = std::min<std::size_t>(result.transferred, request.transfer_length);
    text += " sense=" + HexBytes(static_cast<const uint8_t*>(request.data), n);
    if (n >= 14) {
      const auto* sense = static_cast<const uint8_t*>(request.data);
      char decoded[48];
      std::snprintf(decoded, sizeof decoded, " (key %X asc %02X ascq %02X)", sense[2] & 0x0F,
                    sense[12], sense[13]);
      text += decoded;
    }
  }

  std::string fault;
  if (!result.ok()) {
    fault = "fault = " + name +
            (result.outcome == ScsiOutcome::ScsiStatus ? " check_condition" : " platform_error") +
            " from=" + std::to_string(index) + " times=1";
  } else if (data_in && residue > 0 && name != "request_sense") {
    fault = "fault = " + name + " short=" + std::to_string(result.transferred) +
            " from=" + std::to_string(index) + " times=1";
  }
  if (!fault.empty()) text += " [replay: " + fault + "]";
  Line(text, false);

  if (!result.ok() && !first_failure_ && name != "request_sense") {
    Failure failure;
    failure.index = index;
    failure.fault = fault;
    failure.buffer_command = name == "read_buffer" || name == "write_buffer";
    if (failure.buffer_command && cdb_length >= 10) failure.offset = Get24(request.cdb, 3);
    failure.description = text.substr(0, text.find(" [replay:"));
    first_failure_ = failure;
  } else if (first_failure_ && name == "request_sense" && first_failure_->index == index - 1 &&
             result.ok() && request.data) {
    const std::size_t n = std::min<std::size_t>(result.transferred, request.transfer_length);
    first_failure_->description +=
        "; sense " + HexBytes(static_cast<const uint8_t*>(request.data), n);
  }
}

}  // namespace qvb
