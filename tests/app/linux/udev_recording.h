// Reads what `udevadm monitor --property` printed: one event per block, its properties as
// KEY=value lines after the header line.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/linux/udev_translation.h"

namespace qvb::testing {

inline std::vector<hotplug::UdevEvent> ReadUdevRecording(const std::string& file) {
  std::ifstream in(file);
  std::vector<hotplug::UdevEvent> events;
  std::string line;
  bool in_event = false;
  while (std::getline(in, line)) {
    if (line.rfind("UDEV  [", 0) == 0 || line.rfind("KERNEL[", 0) == 0) {
      events.emplace_back();
      in_event = true;
      continue;
    }
    if (line.empty()) {
      in_event = false;
      continue;
    }
    if (!in_event) continue;
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "ACTION") events.back().action = value;
    if (key == "SUBSYSTEM") events.back().subsystem = value;
    if (key == "DEVTYPE") events.back().devtype = value;
  }
  return events;
}

inline std::string Recording(const std::string& name) {
  return std::string(QVB_UDEV_RECORDINGS) + "/" + name;
}

}  // namespace qvb::testing
