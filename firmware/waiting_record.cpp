#include "firmware/waiting_record.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace qvb {
namespace {

constexpr const char* kHeader = "qvb886-fwupdate waiting-for-power-cycle 1";
constexpr std::size_t kFields = 8;

bool AllDigits(const std::string& text) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// A field of one line: printable ASCII but blank and '%', the rest as %XX; "%" alone is empty.
std::string Escape(const std::string& text) {
  if (text.empty()) return "%";
  std::string out;
  for (const char byte : text) {
    const auto c = static_cast<unsigned char>(byte);
    if (c > 0x20 && c < 0x7f && c != '%') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Unescape(const std::string& field, std::string& text) {
  text.clear();
  if (field == "%") return true;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      text += field[i];
      continue;
    }
    if (i + 2 >= field.size()) return false;
    const int high = HexDigit(field[i + 1]), low = HexDigit(field[i + 2]);
    if (high < 0 || low < 0) return false;
    text += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

std::string VersionField(const FirmwareVersion& v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch) +
         "." + std::to_string(v.build);
}

bool ParseVersion(const std::string& field, FirmwareVersion& version) {
  // Four numbers of at most three digits, each 255 or less, joined by dots, and nothing else.
  unsigned parts[4] = {};
  std::size_t at = 0;
  for (unsigned& part : parts) {
    if (&part != &parts[0]) {
      if (at >= field.size() || field[at] != '.') return false;
      ++at;
    }
    int digits = 0;
    for (; at < field.size() && digits < 3 && field[at] >= '0' && field[at] <= '9'; ++at, ++digits)
      part = part * 10 + static_cast<unsigned>(field[at] - '0');
    if (digits == 0 || part > 255) return false;
  }
  if (at != field.size()) return false;
  version = FirmwareVersion{static_cast<uint8_t>(parts[0]), static_cast<uint8_t>(parts[1]),
                            static_cast<uint8_t>(parts[2]), static_cast<uint8_t>(parts[3])};
  return true;
}

bool ParseLine(const std::string& line, WaitingBridge& record) {
  std::istringstream words(line);
  std::vector<std::string> fields{std::istream_iterator<std::string>(words),
                                  std::istream_iterator<std::string>()};
  if (fields.size() != kFields + 1 || fields[0] != "bridge") return false;
  if (!Unescape(fields[1], record.path) || record.path.empty()) return false;
  if (!Unescape(fields[2], record.serial) || !Unescape(fields[3], record.identification))
    return false;
  if (!AllDigits(fields[4]) || std::stoll(fields[4]) > 255) return false;
  record.model_code = static_cast<uint8_t>(std::stoi(fields[4]));
  if (!ParseVersion(fields[5], record.previous) || !ParseVersion(fields[6], record.written))
    return false;
  if (!AllDigits(fields[7])) return false;
  record.recorded_at = std::stoll(fields[7]);
  return Unescape(fields[8], record.boot);
}

}  // namespace

std::string WaitingRecordFile(bool virtual_devices) {
  const std::string folder = WaitingRecordFolder(virtual_devices);
  if (folder.empty()) return "";
  // The virtual bridge's paths are made up and may equal anybody's: its records stand apart.
  return (std::filesystem::path(folder) / (virtual_devices ? "waiting-virtual.txt" : "waiting.txt"))
      .string();
}

bool SameBoot(const std::string& recorded, const std::string& now) {
  if (recorded.empty() || now.empty()) return false;
  if (AllDigits(recorded) && AllDigits(now)) {
    const int64_t difference = std::stoll(recorded) - std::stoll(now);
    return difference <= kBootTimeToleranceSeconds && difference >= -kBootTimeToleranceSeconds;
  }
  return recorded == now;
}

bool RecordHolds(const WaitingBridge& record, const HostMoment& moment) {
  if (!SameBoot(record.boot, moment.boot)) return false;
  const int64_t age = moment.now - record.recorded_at;
  return age >= -kBootTimeToleranceSeconds && age <= kWaitingRecordMaxAgeSeconds;
}

std::string FormatWaitingRecords(const std::vector<WaitingBridge>& records) {
  std::string text = std::string(kHeader) + "\n";
  for (const auto& r : records) {
    text += "bridge " + Escape(r.path) + " " + Escape(r.serial) + " " + Escape(r.identification) +
            " " + std::to_string(r.model_code) + " " + VersionField(r.previous) + " " +
            VersionField(r.written) + " " + std::to_string(r.recorded_at) + " " + Escape(r.boot) +
            "\n";
  }
  return text;
}

bool ParseWaitingRecords(const std::string& text, std::vector<WaitingBridge>& records) {
  records.clear();
  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || line != kHeader) return false;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    WaitingBridge record;
    if (!ParseLine(line, record) || records.size() >= kWaitingFileMaxRecords) {
      records.clear();
      return false;
    }
    records.push_back(std::move(record));
  }
  return true;
}

WaitingRecordStore::WaitingRecordStore(std::string file, Clock clock)
    : file_(std::move(file)), clock_(std::move(clock)) {}

std::vector<WaitingBridge> WaitingRecordStore::Load() const {
  std::vector<WaitingBridge> records;
  std::ifstream in(file_, std::ios::binary);
  if (!in) return records;
  std::string text(kWaitingFileMaxBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  const auto length = static_cast<std::size_t>(in.gcount());
  if (length > kWaitingFileMaxBytes) return records;
  text.resize(length);
  if (!ParseWaitingRecords(text, records)) return {};
  const HostMoment moment = clock_();
  std::erase_if(records, [&](const WaitingBridge& r) { return !RecordHolds(r, moment); });
  return records;
}

bool WaitingRecordStore::Save(const std::vector<WaitingBridge>& records, std::string& error) const {
  namespace fs = std::filesystem;
  const fs::path file(file_);
  std::error_code code;
  fs::create_directories(file.parent_path(), code);
  if (code) {
    error = file.parent_path().string() + ": " + code.message();
    return false;
  }
  std::vector<WaitingBridge> kept = records;
  if (kept.size() > kWaitingFileMaxRecords)
    kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(kWaitingFileMaxRecords));
  const std::string text = FormatWaitingRecords(kept);
  const fs::path temporary = file.string() + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      error = temporary.string() + ": cannot be written";
      out.close();
      fs::remove(temporary, code);
      return false;
    }
  }
  fs::rename(temporary, file, code);
  if (code) {
    error = file.string() + ": " + code.message();
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return false;
  }
  return true;
}

}  // namespace qvb
