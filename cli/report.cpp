#include "cli/report.h"

#include <nlohmann/json.hpp>

#include "cli/outcomes.h"
#include "device/enumeration.h"
#include "device/identification.h"

namespace qvb::cli {

DiskReport DescribeDisk(const ScannedDisk& disk, bool read_firmware) {
  DiskReport report;
  report.disk = disk;
  if (read_firmware && disk.model_code == kModelCodeQvb886) {
    report.firmware_asked = true;
    report.status = ReadDeviceStatus(disk.path.c_str());
  }
  return report;
}

// A device's bytes as a JSON string: each byte becomes the character of the same number, so
// that the text is valid whatever the bytes, and dumped as ASCII each byte outside printable
// ASCII reads back as \u00XX.
nlohmann::ordered_json ByteText(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (byte >> 6));
      text += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return text;
}

nlohmann::ordered_json DiskJson(const DiskReport& report) {
  const ScannedDisk& disk = report.disk;
  nlohmann::ordered_json json;
  json["path"] = ByteText(disk.path);
  json["bus"] = ByteText(BusName(disk.bus));
  json["vendor"] = disk.inquiry_ok ? ByteText(TrimIdentification(disk.vendor)) : nullptr;
  json["product"] = disk.inquiry_ok ? ByteText(TrimIdentification(disk.product)) : nullptr;
  json["model_code"] = disk.model_code;
  const char* model = ModelText(disk.model_code);
  json["model"] = model ? ByteText(model) : nullptr;
  json["listed"] = disk.listed();
  if (!report.firmware_asked) {
    json["firmware"] = nullptr;
  } else if (report.status.outcome != StatusRead::Read) {
    json["firmware"] = {{"read", false},
                        {"error", ByteText(StatusReadError(report.status.outcome))}};
  } else {
    json["firmware"] = {
        {"read", true},
        {"version", ByteText(DottedVersion(report.status.version))},
        {"version_text", ByteText(VersionText(report.status.version))},
        {"status", ByteText(StatusWords(report.status.status))},
        {"updatable", !report.waiting && report.status.status == FirmwareStatus::UpdateRequired},
        {"waiting_for_power_cycle", report.waiting}};
  }
  return json;
}

nlohmann::ordered_json DisksJson(const std::vector<DiskReport>& reports) {
  nlohmann::ordered_json json = nlohmann::ordered_json::array();
  for (const auto& report : reports) json.push_back(DiskJson(report));
  return json;
}

nlohmann::ordered_json DeniedJson(const std::vector<RefusedDisk>& refused) {
  nlohmann::ordered_json json = nlohmann::ordered_json::array();
  for (const auto& disk : refused)
    json.push_back({{"path", ByteText(disk.path)},
                    {"reason", disk.reason == Refusal::Busy ? "busy" : "permission denied"}});
  return json;
}

nlohmann::ordered_json LinesJson(const ScreenLines& lines) {
  nlohmann::ordered_json json = nlohmann::ordered_json::array();
  for (const auto& line : lines) json.push_back(ByteText(line));
  return json;
}

std::string JsonDocumentText(const nlohmann::ordered_json& document) {
  const std::string dumped = document.dump(2, ' ', true);
  // Every control byte is written as \u00XX, as scripts have always read them; the library
  // shortens backspace and form feed to \b and \f. Each backslash it writes begins an escape.
  std::string text;
  text.reserve(dumped.size() + 1);
  for (std::size_t i = 0; i < dumped.size(); ++i) {
    if (dumped[i] != '\\' || i + 1 == dumped.size()) {
      text += dumped[i];
      continue;
    }
    const char escaped = dumped[++i];
    if (escaped == 'b') {
      text += "\\u0008";
    } else if (escaped == 'f') {
      text += "\\u000c";
    } else {
      text += '\\';
      text += escaped;
    }
  }
  text += '\n';
  return text;
}

std::string UsageErrorDocumentText(const char* command, const std::string& error) {
  const VerdictRow& row = RowOf(Verdict::UsageError);
  nlohmann::ordered_json json;
  json["command"] = command ? ByteText(command) : nullptr;
  json["outcome"] = row.word;
  json["exit_code"] = row.exit_code;
  json["error"] = ByteText(error);
  return JsonDocumentText(json);
}

void WriteDiskText(std::ostream& out, const DiskReport& report) {
  const ScannedDisk& disk = report.disk;
  out << Printable(disk.path) << "\n";
  out << "  Bus:     " << BusName(disk.bus) << "\n";
  out << "  Device:  " << IdentificationText(disk) << "\n";
  out << "  Bridge:  ";
  if (const char* model = ModelText(disk.model_code))
    out << model << " (model code " << int{disk.model_code} << ")";
  else
    out << "not recognised (model code " << int{disk.model_code} << ")";
  out << "\n";
  if (!report.firmware_asked) {
    if (disk.listed()) out << "  This program updates only the QVB886.\n";
    return;
  }
  if (report.status.outcome != StatusRead::Read) {
    out << "  Firmware version not read: " << StatusReadError(report.status.outcome) << ".\n";
    return;
  }
  out << "  " << VersionText(report.status.version) << "\n";
  if (report.waiting) {
    // Written by an update: the old version runs until the device is powered off and on.
    const Screen waiting = ScreenFor(Outcome::PowerCyclePending);
    out << "  " << waiting.result() << "\n  " << waiting.advice() << "\n";
    return;
  }
  out << "  " << StatusLine(report.status.status) << "\n";
}

void WriteLinesText(std::ostream& out, const ScreenLines& lines) {
  for (const auto& line : lines)
    if (!line.empty()) out << line << "\n";
}

void WriteDeviceHeader(std::ostream& out, const DiskReport& report) {
  out << "Device: " << Printable(report.disk.path) << " (" << BusName(report.disk.bus) << ", "
      << IdentificationText(report.disk) << ")\n";
}

}  // namespace qvb::cli
