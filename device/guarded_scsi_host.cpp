#include "device/guarded_scsi_host.h"

#include <utility>

namespace qvb {
namespace {

class GuardedDevice : public ScsiDevice {
 public:
  GuardedDevice(GuardedScsiHost& host, std::unique_ptr<ScsiDevice> inner, std::string path)
      : host_(host), inner_(std::move(inner)), path_(std::move(path)) {}

  ScsiResult Send(const ScsiRequest& request) override {
    std::optional<ScsiResult> vetoed;
    if (host_.before_send) vetoed = host_.before_send(path_, request);
    const ScsiResult result = vetoed ? *vetoed : inner_->Send(request);
    if (host_.after_send) host_.after_send(path_, request, result);
    return result;
  }

 private:
  GuardedScsiHost& host_;
  std::unique_ptr<ScsiDevice> inner_;
  std::string path_;
};

}  // namespace

ScsiOpen GuardedScsiHost::Open(const char* path, ShareMode share) {
  ScsiOpen opened;
  std::optional<ScsiResult> vetoed;
  if (before_open) vetoed = before_open(path, share);
  if (vetoed) {
    opened.result = *vetoed;
  } else {
    opened = inner_.Open(path, share);
  }
  if (after_open) after_open(path, share, opened.result);
  if (!opened.device) return opened;
  opened.device =
      std::make_unique<GuardedDevice>(*this, std::move(opened.device), path ? path : "");
  return opened;
}

}  // namespace qvb
