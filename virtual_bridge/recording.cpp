#include "virtual_bridge/recording.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "device/path_identity.h"
#include "device/request_log.h"
#include "device/test_device.h"

namespace qvb::virt {
namespace {

// A request's kind: its command name, with the buffer, mode or address that selects its reply.
std::string Kind(const uint8_t* cdb, std::size_t length) {
  std::string name = RequestName(cdb, length);
  char suffix[32];
  if (name == "read_buffer" && length >= 3) {
    std::snprintf(suffix, sizeof suffix, "_id%u_mode%u", cdb[2], cdb[1]);
    name += suffix;
  } else if (name == "memory" && length >= 8) {
    std::snprintf(suffix, sizeof suffix, "_%02X%02X", cdb[6], cdb[7]);
    name += suffix;
  }
  return name;
}

}  // namespace

Recording::Device& Recording::Find(const std::string& path) {
  for (auto& device : devices_)
    if (SamePath(device.path, path)) return device;
  devices_.push_back(Device{});
  devices_.back().path = path;
  return devices_.back();
}

void Recording::AddReply(const std::string& path, const uint8_t* cdb, std::size_t cdb_length,
                         const uint8_t* data, uint32_t length, bool ok) {
  Device& device = Find(path);
  device.opened = true;
  Reply reply;
  reply.ok = ok;
  if (ok && data) reply.data.assign(data, data + length);
  const std::string kind = Kind(cdb, cdb_length);
  if (kind == "inquiry") {
    if (!device.inquiry_seen ||
        (ok && (!device.inquiry.ok || reply.data.size() > device.inquiry.data.size())))
      device.inquiry = reply;
    device.inquiry_seen = true;
    return;
  }
  if (kind == "flash_status") {
    // The model answers busy for its first N status reads, then ready.
    if (ok && !reply.data.empty() && (reply.data[0] & 1) && !device.flash_ready_seen)
      ++device.flash_busy_reads;
    else
      device.flash_ready_seen = true;
    return;
  }
  if (kind == "request_sense") return;  // the model's own sense data is as good: nobody reads it
  const auto found = device.replies.find(kind);
  if (found == device.replies.end()) {
    device.replies.emplace(kind, reply);
    return;
  }
  const Reply& first = found->second;
  const std::size_t common = std::min(first.data.size(), reply.data.size());
  if (first.ok != reply.ok ||
      !std::equal(first.data.begin(), first.data.begin() + static_cast<long>(common),
                  reply.data.begin()))
    if (std::find(device.differed.begin(), device.differed.end(), kind) == device.differed.end())
      device.differed.push_back(kind);
}

void Recording::AddFailedOpen(const std::string& path, const std::string& why) {
  Device& device = Find(path);
  if (device.open_failure.empty()) device.open_failure = why;
}

void Recording::KeepOnly(const std::string& path) {
  std::erase_if(devices_, [&](const Device& device) { return !SamePath(device.path, path); });
}

void Recording::SetBus(const std::string& path, const std::string& bus) {
  Find(path).bus = bus;
}

std::string Recording::ScenarioText(const std::vector<std::string>& comment) const {
  std::ostringstream out;
  for (const auto& line : comment) out << "# " << line << "\n";
  for (const auto& device : devices_) {
    out << "\n[device]\npath = " << device.path << "\n";
    // Everything the device was not asked fails, as a disk that answers nothing does.
    out << "preset = blank\n";
    if (!device.bus.empty()) out << "bus = " << device.bus << "\n";
    if (!device.opened) {
      out << "# the device could not be opened (" << device.open_failure << ")\n";
      out << "fault = any vanish\n";
      continue;
    }
    if (device.inquiry_seen && device.inquiry.ok) {
      const auto& bytes = device.inquiry.data;
      out << "inquiry_bytes = " << HexBytes(bytes.data(), std::min<std::size_t>(bytes.size(), 56))
          << "\n";
      const bool marked =
          bytes.size() >= kTestDeviceInquiryLength &&
          std::equal(bytes.begin() + kTestDeviceMarkAt,
                     bytes.begin() + kTestDeviceMarkAt + kTestDeviceMarkSize, kTestDeviceMark);
      out << "test_device = " << (marked ? "yes" : "no") << "\n";
    } else {
      out << "inquiry = fail\ntest_device = no\n";
    }
    auto fixed = [&](const char* kind, const char* key) {
      const auto found = device.replies.find(kind);
      if (found == device.replies.end()) return;
      out << key << " = ";
      if (found->second.ok)
        out << HexBytes(found->second.data.data(), found->second.data.size()) << "\n";
      else
        out << "fail\n";
    };
    fixed("probe", "probe");
    fixed("info", "info");
    fixed("info_alt", "info_alt");
    fixed("config", "config");
    fixed("flash_id", "flash_id");
    fixed("memory_FDB0", "flag_memory");
    fixed("name", "name_bytes");
    fixed("read_buffer_id1_mode3", "buffer1_descriptor");
    fixed("read_buffer_id1_mode1", "buffer1_page");
    const auto page = device.replies.find("vendor_page");
    if (page != device.replies.end())
      out << "vendor_page = " << (page->second.ok ? "ok" : "fail") << "\n";
    const auto descriptor = device.replies.find("read_buffer_id0_mode3");
    if (descriptor != device.replies.end()) {
      const auto& d = descriptor->second;
      if (d.ok && d.data.size() >= 4) {
        char text[16];
        std::snprintf(text, sizeof text, "%02X %02X%02X%02X", d.data[0], d.data[1], d.data[2],
                      d.data[3]);
        out << "descriptor = " << text << "\n";
      } else {
        out << "descriptor = fail\n";
      }
    }
    if (device.flash_busy_reads > 0)
      out << "flash_busy_reads = " << device.flash_busy_reads << "\n";
    for (const auto& kind : device.differed)
      out << "# " << kind << " answered differently when asked again; the first answer is kept\n";
  }
  return out.str();
}

}  // namespace qvb::virt
