#include "virtual_bridge/live_scenario.h"

#include <fstream>

#include "device/system_services.h"
#include "virtual_bridge/scenario.h"

namespace qvb::virt {
bool ReadWholeFile(const std::string& file, std::string& text) {
  std::string reason;
  return ReadScenarioFile(file, text, reason) == FileRead::Read;
}

LiveScenario::LiveScenario(std::string file) : file_(std::move(file)) {}

bool LiveScenario::Refresh() {
  if (file_.empty()) return false;
  std::string text, reason;
  const FileRead read = ReadScenarioFile(file_, text, reason);
  if (read == FileRead::Refused) {
    // There, but not a file to load: like a mistake in one, it keeps what is attached.
    const std::string error = file_ + ": " + reason;
    if (error == error_) return false;  // said once is enough
    error_ = error;
    rejected_.clear();
    System().DebugOutput((error_ + "\n").c_str());
    return false;
  }
  if (read == FileRead::Missing) {
    // Nothing to read: nothing attached.
    if (source_ == Source::Missing) return false;
    source_ = Source::Missing;
    text_.clear();
    error_.clear();
    bridge_ = VirtualBridge();
    ++loads_;
    return true;
  }
  if (source_ == Source::Loaded && text == text_) return false;
  if (!error_.empty() && text == rejected_) return false;  // said once is enough
  VirtualBridge loaded;
  const ScenarioResult result = LoadScenarioText(text, loaded);
  if (!result.ok) {
    // A mistake in the file: keep what is attached and say why.
    error_ = file_ + ": " + result.error;
    rejected_ = std::move(text);
    System().DebugOutput((error_ + "\n").c_str());
    return false;
  }
  // A fresh bridge: no state of the devices before (flash, loader, request counts) carries
  // over, and fault positions ("from=N") count from this load.
  bridge_ = std::move(loaded);
  text_ = std::move(text);
  source_ = Source::Loaded;
  error_.clear();
  rejected_.clear();
  ++loads_;
  return true;
}

ScsiOpen LiveScenario::Open(const char* path, ShareMode share) {
  if (open_delay_ms_ != 0) System().Sleep(open_delay_ms_);
  return bridge_.Open(path, share);
}

std::unique_ptr<DiskInterfaceWalk> LiveScenario::Walk() {
  Refresh();
  return bridge_.Walk();
}

bool WriteFlashFile(VirtualBridge& bridge, std::size_t index, const std::string& file) {
  if (index >= bridge.devices().size()) return false;
  const std::vector<uint8_t>& flash = bridge.devices()[index].flash;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(flash.data()),
            static_cast<std::streamsize>(flash.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace qvb::virt
