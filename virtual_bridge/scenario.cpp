#include "virtual_bridge/scenario.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "virtual_bridge/bridge_family.h"

namespace qvb::virt {
namespace {

// A '#' that follows a space or a tab starts a comment, so that a value can be explained on its
// own line; a '#' inside a word (the interface paths are full of them) is part of the value.
std::string WithoutComment(const std::string& line) {
  for (std::size_t i = 1; i < line.size(); ++i)
    if (line[i] == '#' && (line[i - 1] == ' ' || line[i - 1] == '\t')) return line.substr(0, i);
  return line;
}

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

// A whole decimal number from `min` to `max`; nothing else in the text.
bool ParseNumber(const std::string& text, long min, long max, int& number) {
  const std::size_t digits = min < 0 && !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() <= digits || !std::isdigit(static_cast<unsigned char>(text[digits])))
    return false;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < min || value > max) return false;
  number = static_cast<int>(value);
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    if (word.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < word.size(); i += 2) {
      const int high = HexDigit(word[i]);
      const int low = HexDigit(word[i + 1]);
      if (high < 0 || low < 0) return false;
      bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
  }
  return true;
}

template <std::size_t N>
bool ParseFixed(const std::string& value, std::optional<std::array<uint8_t, N>>& field) {
  if (value == "fail") {
    field.reset();
    return true;
  }
  std::vector<uint8_t> bytes;
  if (!ParseHex(value, bytes) || bytes.size() != N) return false;
  std::array<uint8_t, N> fixed{};
  std::copy(bytes.begin(), bytes.end(), fixed.begin());
  field = fixed;
  return true;
}

bool ParseVersion(const std::string& value, std::array<uint8_t, 4>& version) {
  std::size_t start = 0;
  for (std::size_t part = 0; part < version.size(); ++part) {
    const std::size_t dot = value.find('.', start);
    if ((dot == std::string::npos) != (part == version.size() - 1)) return false;
    int number = 0;
    if (!ParseNumber(value.substr(start, dot - start), 0, 255, number)) return false;
    version[part] = static_cast<uint8_t>(number);
    start = dot + 1;
  }
  return true;
}

bool ParseFault(const std::string& value, Fault& fault) {
  std::istringstream in(value);
  std::string command, kind, option;
  if (!(in >> command >> kind)) return false;
  fault.command = command == "any" ? "" : command;
  if (kind == "check_condition")
    fault.kind = FaultKind::CheckCondition;
  else if (kind == "corrupt")
    fault.kind = FaultKind::CorruptData;
  else if (kind == "platform_error")
    fault.kind = FaultKind::PlatformError;
  else if (kind == "vanish")
    fault.kind = FaultKind::Vanish;
  else if (kind.rfind("short=", 0) == 0) {
    fault.kind = FaultKind::ShortReply;
    if (!ParseNumber(kind.substr(6), 0, INT32_MAX, fault.short_length)) return false;
  } else {
    return false;
  }
  while (in >> option) {
    bool ok = false;
    if (option.rfind("from=", 0) == 0)
      ok = ParseNumber(option.substr(5), 0, INT32_MAX, fault.from_request);
    else if (option.rfind("times=", 0) == 0)
      ok = ParseNumber(option.substr(6), -1, INT32_MAX, fault.times);
    if (!ok) return false;
  }
  return true;
}

bool Apply(DeviceModel& model, const std::string& key, const std::string& value,
           std::vector<Fault>& faults) {
  std::vector<uint8_t> bytes;
  if (key == "path") {
    model.path = value;
  } else if (key == "preset") {
    const std::string path = model.path;
    if (value == "qvb886")
      model = MakeQvb886(path, {133, 1, 0, 6});
    else if (value == "bridge")
      model = MakeBridge(path);
    else if (value == "blank") {
      model = DeviceModel{};
      model.path = path;
    } else {
      return false;
    }
  } else if (key == "version") {
    std::array<uint8_t, 4> version{};
    if (!ParseVersion(value, version) || !model.info) return false;
    std::copy(version.begin(), version.end(), model.info->begin() + 12);
  } else if (key == "vendor" || key == "product") {
    std::string vendor(reinterpret_cast<const char*>(&model.inquiry[8]), 8);
    std::string product(reinterpret_cast<const char*>(&model.inquiry[16]), 16);
    (key == "vendor" ? vendor : product) = value;
    SetInquiryText(model, vendor, product);
  } else if (key == "inquiry_model") {
    SetInquiryModel(model, value == "none" ? "" : value);
  } else if (key == "test_device") {
    if (value != "yes" && value != "no") return false;
    SetTestDeviceMark(model, value == "yes");
  } else if (key == "inquiry_bytes") {
    if (!ParseHex(value, bytes) || bytes.size() > model.inquiry.size()) return false;
    model.inquiry.fill(0);
    std::copy(bytes.begin(), bytes.end(), model.inquiry.begin());
    model.inquiry_ok = true;
  } else if (key == "name_bytes") {
    if (!ParseHex(value, bytes) || bytes.size() > 40) return false;
    bytes.resize(40, 0);
    model.name = bytes;
  } else if (key == "bus") {
    if (value == "USB")
      model.bus_text = "usbstor";
    else if (value == "UASP")
      model.bus_text = "scsi";
    else if (value == "1394")
      model.bus_text = "sbp2";
    else
      return false;
  } else if (key == "inquiry") {
    if (value != "fail" && value != "ok") return false;
    model.inquiry_ok = value == "ok";
  } else if (key == "probe") {
    return ParseFixed(value, model.probe);
  } else if (key == "info") {
    return ParseFixed(value, model.info);
  } else if (key == "info_alt") {
    return ParseFixed(value, model.info_alt);
  } else if (key == "loader") {
    if (!model.info) return false;
    (*model.info)[6] = value == "yes" ? 0 : 1;
  } else if (key == "descriptor") {
    model.answers_buffer0 = value != "fail";
    if (!model.answers_buffer0) return true;
    if (!ParseHex(value, bytes) || bytes.size() != 4) return false;
    model.descriptor_boundary = bytes[0];
    model.capacity = (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
  } else if (key == "config") {
    return ParseFixed(value, model.config);
  } else if (key == "flash_id") {
    return ParseFixed(value, model.flash_id);
  } else if (key == "flag_memory") {
    return ParseFixed(value, model.flag_memory);
  } else if (key == "name") {
    if (value == "fail")
      model.name.reset();
    else
      model.name = std::vector<uint8_t>(value.begin(), value.end());
    if (model.name) model.name->resize(40, 0);
  } else if (key == "vendor_page") {
    if (value != "fail" && value != "ok") return false;
    model.vendor_page_ok = value == "ok";
  } else if (key == "buffer1_descriptor") {
    return ParseFixed(value, model.buffer1_descriptor);
  } else if (key == "buffer1_page") {
    if (value == "fail") {
      model.buffer1_page.reset();
      return true;
    }
    if (!ParseHex(value, bytes)) return false;
    model.buffer1_page = bytes;
  } else if (key == "flash_busy_reads") {
    return ParseNumber(value, 0, INT32_MAX, model.flash_busy_reads);
  } else if (key == "detail") {
    if (value != "fail" && value != "ok") return false;
    model.detail_fails = value == "fail";
  } else if (key == "info_via") {
    if (value == "info")
      SetInfoVia(model, InfoVia::Info);
    else if (value == "info_alt")
      SetInfoVia(model, InfoVia::InfoAlt);
    else if (value == "both")
      SetInfoVia(model, InfoVia::Both);
    else if (value == "none")
      SetInfoVia(model, InfoVia::None);
    else
      return false;
  } else if (key == "info_signature") {
    if (value != "yes" && value != "no") return false;
    SetInfoSignature(model, value == "yes");
  } else if (key == "info_ids") {
    if (!ParseHex(value, bytes) || bytes.size() != 4) return false;
    SetInfoIds(model, static_cast<uint16_t>((bytes[0] << 8) | bytes[1]),
               static_cast<uint16_t>((bytes[2] << 8) | bytes[3]));
  } else if (key == "info_model") {
    if (value != "none" && value.size() > 4) return false;
    SetInfoModel(model, value == "none" ? "" : value);
  } else if (key == "flag_byte") {
    char* end = nullptr;
    const long flag = std::strtol(value.c_str(), &end, 0);
    if (value.empty() || *end != '\0' || flag < 0 || flag > 255) return false;
    SetBridgeFlagByte(model, static_cast<uint8_t>(flag));
  } else if (key == "fault") {
    Fault fault;
    if (!ParseFault(value, fault)) return false;
    fault.path = model.path;
    faults.push_back(fault);
  } else {
    return false;
  }
  return true;
}

}  // namespace

ScenarioResult LoadScenarioText(const std::string& text, VirtualBridge& bridge) {
  if (text.size() > kMaxScenarioBytes)
    return {false, "larger than " + std::to_string(kMaxScenarioBytes / 1024) +
                       " KiB, the most a scenario may hold"};
  std::vector<DeviceModel> devices;
  std::vector<Fault> faults;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    const std::string content = Trim(WithoutComment(trimmed));
    if (content == "[device]") {
      // Refused before its flash is allocated.
      if (devices.size() >= kMaxScenarioDevices)
        return {false, "line " + std::to_string(number) + ": more than " +
                           std::to_string(kMaxScenarioDevices) +
                           " [device] sections, the most a scenario may have"};
      devices.push_back(MakeQvb886("", {133, 1, 0, 6}));
      continue;
    }
    const auto equals = content.find('=');
    if (equals == std::string::npos || devices.empty())
      return {false, "line " + std::to_string(number) + ": expected [device] or key = value"};
    const std::string key = Trim(content.substr(0, equals));
    const std::string value = Trim(content.substr(equals + 1));
    if (!Apply(devices.back(), key, value, faults)) {
      std::string error = "line ";
      error.append(std::to_string(number)).append(": cannot use '").append(key);
      error.append(" = ").append(value).append("'");
      return {false, error};
    }
  }
  for (const auto& device : devices)
    if (device.path.empty()) return {false, "a [device] has no path"};
  bridge.devices() = std::move(devices);
  bridge.ClearFaults();
  for (const auto& fault : faults) bridge.AddFault(fault);
  return {true, ""};
}

ScenarioResult LoadScenarioFile(const std::string& file, VirtualBridge& bridge) {
  std::string text, reason;
  if (ReadScenarioFile(file, text, reason) != FileRead::Read) return {false, file + ": " + reason};
  return LoadScenarioText(text, bridge);
}

FileRead ReadScenarioFile(const std::string& file, std::string& text, std::string& reason) {
  text.clear();
  // Looked at before it is opened: opening a pipe for reading waits for a writer.
  std::error_code error;
  const auto status = std::filesystem::status(file, error);
  if (error || !std::filesystem::exists(status)) {
    reason = "cannot be read";
    return FileRead::Missing;
  }
  if (std::filesystem::is_directory(status)) {
    reason = "is a folder, not a scenario file";
    return FileRead::Refused;
  }
  const std::string not_regular = "is not a regular file (a pipe, a device or a socket)";
  if (!std::filesystem::is_regular_file(status)) {
    reason = not_regular;
    return FileRead::Refused;
  }
  const std::string too_large = "is larger than " + std::to_string(kMaxScenarioBytes / 1024) +
                                " KiB, the most a scenario may hold";
  // One byte more than the limit tells a file that is too large from one that just fits.
  std::vector<char> buffer(kMaxScenarioBytes + 1);
  std::size_t size = 0;
#ifdef _WIN32
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    reason = "cannot be read";
    return FileRead::Missing;
  }
  in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  if (in.bad()) {
    reason = "cannot be read";
    return FileRead::Missing;
  }
  size = static_cast<std::size_t>(in.gcount());
#else
  // Without waiting, and checked again once open, in case the name now leads somewhere else.
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    reason = "cannot be read";
    return FileRead::Missing;
  }
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    ::close(fd);
    reason = not_regular;
    return FileRead::Refused;
  }
  bool failed = false;
  while (size < buffer.size()) {
    const ssize_t n = ::read(fd, buffer.data() + size, buffer.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failed = true;
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (failed) {
    reason = "cannot be read";
    return FileRead::Missing;
  }
#endif
  if (size > kMaxScenarioBytes) {
    reason = too_large;
    return FileRead::Refused;
  }
  text.assign(buffer.data(), size);
  return FileRead::Read;
}

}  // namespace qvb::virt
