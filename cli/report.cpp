#include "cli/report.h"

#include "cli/json_writer.h"
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

void WriteDiskJson(JsonWriter& json, const DiskReport& report) {
  const ScannedDisk& disk = report.disk;
  json.BeginObject();
  json.Key("path").String(disk.path);
  json.Key("bus").String(BusName(disk.bus));
  json.Key("vendor");
  disk.inquiry_ok ? json.String(TrimIdentification(disk.vendor)) : json.Null();
  json.Key("product");
  disk.inquiry_ok ? json.String(TrimIdentification(disk.product)) : json.Null();
  json.Key("model_code").Int(disk.model_code);
  json.Key("model");
  const char* model = ModelText(disk.model_code);
  model ? json.String(model) : json.Null();
  json.Key("listed").Bool(disk.listed());
  json.Key("firmware");
  if (!report.firmware_asked) {
    json.Null();
  } else if (report.status.outcome != StatusRead::Read) {
    json.BeginObject();
    json.Key("read").Bool(false);
    json.Key("error").String(StatusReadError(report.status.outcome));
    json.EndObject();
  } else {
    json.BeginObject();
    json.Key("read").Bool(true);
    json.Key("version").String(DottedVersion(report.status.version));
    json.Key("version_text").String(VersionText(report.status.version));
    json.Key("status").String(StatusWords(report.status.status));
    json.Key("updatable").Bool(report.status.status == FirmwareStatus::UpdateRequired);
    json.EndObject();
  }
  json.EndObject();
}

void WriteDisksJson(JsonWriter& json, const std::vector<DiskReport>& reports) {
  json.BeginArray();
  for (const auto& report : reports) WriteDiskJson(json, report);
  json.EndArray();
}

void WriteDeniedJson(JsonWriter& json, const std::vector<std::string>& denied) {
  json.BeginArray();
  for (const auto& path : denied) {
    json.BeginObject();
    json.Key("path").String(path);
    json.Key("reason").String("permission denied");
    json.EndObject();
  }
  json.EndArray();
}

void WriteLinesJson(JsonWriter& json, const WindowLines& lines) {
  json.BeginArray();
  for (const auto& line : lines) json.String(line);
  json.EndArray();
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
  out << "  " << StatusLine(report.status.status) << "\n";
}

void WriteLinesText(std::ostream& out, const WindowLines& lines) {
  for (const auto& line : lines)
    if (!line.empty()) out << line << "\n";
}

void WriteDeviceHeader(std::ostream& out, const DiskReport& report) {
  out << "Device: " << Printable(report.disk.path) << " (" << BusName(report.disk.bus) << ", "
      << IdentificationText(report.disk) << ")\n";
}

}  // namespace qvb::cli
