// A SCSI host in front of another that lets its owner see every open and every request with its
// result, and refuse either before it reaches the inner host. The command line watches it for
// refusals; tests and the rig bench record, check or fail requests through it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/scsi_host.h"

namespace qvb {

class GuardedScsiHost : public ScsiHost {
 public:
  // A result from a veto ends the open or request with it; nothing reaches the inner host. A
  // vetoed open never gives a device, whatever the result says.
  using OpenVeto = std::function<std::optional<ScsiResult>(const char* path, ShareMode share)>;
  using OpenWatch =
      std::function<void(const char* path, ShareMode share, const ScsiResult& result)>;
  using SendVeto =
      std::function<std::optional<ScsiResult>(const std::string& path, const ScsiRequest& request)>;
  using SendWatch = std::function<void(const std::string& path, const ScsiRequest& request,
                                       const ScsiResult& result)>;

  explicit GuardedScsiHost(ScsiHost& inner) : inner_(inner) {}
  // Owners capture themselves in the hooks: a copy would call back into the original.
  GuardedScsiHost(const GuardedScsiHost&) = delete;
  GuardedScsiHost& operator=(const GuardedScsiHost&) = delete;

  // Each may be left empty. The watches see every outcome, a vetoed one too.
  OpenVeto before_open;
  OpenWatch after_open;
  SendVeto before_send;
  SendWatch after_send;

  ScsiOpen Open(const char* path, ShareMode share) override;

 private:
  ScsiHost& inner_;
};

}  // namespace qvb
