// A SCSI host in front of another that shows every request to a callback just before it is
// sent, so that a test can look at the state of the program at that moment.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "device/guarded_scsi_host.h"
#include "device/scsi_host.h"

namespace qvb::testing {

class WatchingHost : public GuardedScsiHost {
 public:
  using Watch = std::function<void(const ScsiRequest&)>;
  WatchingHost(ScsiHost& inner, Watch watch) : GuardedScsiHost(inner), watch_(std::move(watch)) {
    before_send = [this](const std::string&, const ScsiRequest& request) {
      watch_(request);
      return std::optional<ScsiResult>();
    };
  }

 private:
  Watch watch_;
};

// WRITE BUFFER, whatever its mode.
inline bool IsWriteBuffer(const ScsiRequest& request) {
  return request.cdb_length == 10 && request.cdb[0] == 0x3B;
}

}  // namespace qvb::testing
