// A SCSI host in front of another that shows every request to a callback just before it is
// sent, so that a test can look at the state of the program at that moment.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "device/scsi_host.h"

namespace qvb::testing {

class WatchingHost : public ScsiHost {
 public:
  using Watch = std::function<void(const ScsiPassThroughDirect&)>;
  WatchingHost(ScsiHost& inner, Watch watch) : inner_(inner), watch_(std::move(watch)) {}

  std::unique_ptr<ScsiDevice> Open(const char* path, ShareMode share) override {
    std::unique_ptr<ScsiDevice> device = inner_.Open(path, share);
    if (!device) return nullptr;
    return std::make_unique<Device>(std::move(device), watch_);
  }

 private:
  class Device : public ScsiDevice {
   public:
    Device(std::unique_ptr<ScsiDevice> inner, const Watch& watch)
        : inner_(std::move(inner)), watch_(watch) {}
    bool Send(ScsiPassThroughDirect& request, uint32_t& last_error) override {
      watch_(request);
      return inner_->Send(request, last_error);
    }

   private:
    std::unique_ptr<ScsiDevice> inner_;
    const Watch& watch_;
  };

  ScsiHost& inner_;
  Watch watch_;
};

// WRITE BUFFER, whatever its mode.
inline bool IsWriteBuffer(const ScsiPassThroughDirect& request) {
  return request.CdbLength == 10 && request.Cdb[0] == 0x3B;
}

}  // namespace qvb::testing
