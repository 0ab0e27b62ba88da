#include "cli/access_monitor.h"

#include <algorithm>
#include <cctype>

namespace qvb::cli {
namespace {

class MonitoredDevice : public ScsiDevice {
 public:
  MonitoredDevice(std::unique_ptr<ScsiDevice> inner, AccessMonitor& monitor, std::string path,
                  const AccessMonitor::ErrorTest& is_permission)
      : inner_(std::move(inner)),
        monitor_(monitor),
        path_(std::move(path)),
        is_permission_(is_permission) {}

  bool Send(ScsiPassThroughDirect& request, uint32_t& last_error) override {
    const bool sent = inner_->Send(request, last_error);
    if (!sent && is_permission_(last_error)) monitor_.RecordDenied(path_.c_str());
    return sent;
  }

 private:
  std::unique_ptr<ScsiDevice> inner_;
  AccessMonitor& monitor_;
  std::string path_;
  const AccessMonitor::ErrorTest& is_permission_;
};

}  // namespace

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool SamePath(const std::string& a, const std::string& b) {
  return LowerCase(a) == LowerCase(b);
}

AccessMonitor::AccessMonitor(ScsiHost& inner, ErrorSource open_error, ErrorTest is_permission)
    : inner_(inner), open_error_(std::move(open_error)), is_permission_(std::move(is_permission)) {}

void AccessMonitor::Install() {
  if (!installed_) installed_ = std::make_unique<ScopedSeams>(HostSeams{.scsi = this});
}

AccessMonitor::~AccessMonitor() = default;

std::unique_ptr<ScsiDevice> AccessMonitor::Open(const char* path, ShareMode share) {
  std::unique_ptr<ScsiDevice> device = inner_.Open(path, share);
  if (!device) {
    if (is_permission_(open_error_())) RecordDenied(path);
    return nullptr;
  }
  return std::make_unique<MonitoredDevice>(std::move(device), *this, path ? path : "",
                                           is_permission_);
}

bool AccessMonitor::WasDenied(const std::string& path) const {
  const std::string lower = LowerCase(path);
  return std::find(denied_.begin(), denied_.end(), lower) != denied_.end();
}

void AccessMonitor::RecordDenied(const char* path) {
  if (!path || WasDenied(path)) return;
  denied_.push_back(LowerCase(path));
}

}  // namespace qvb::cli
