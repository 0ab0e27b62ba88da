// A recording of real devices as a scenario file: every reply that the refresh, identification
// and status check read, kept byte for byte, so that --virtual on the file shows the same list
// and status without the devices.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qvb::virt {

class Recording {
 public:
  // A data-in request that reached `path`, with the bytes the caller's buffer held afterwards
  // (`length` of them) and whether it succeeded.
  void AddReply(const std::string& path, const uint8_t* cdb, std::size_t cdb_length,
                const uint8_t* data, uint32_t length, bool ok);
  // An open of `path` that failed: the device is recorded as gone.
  void AddFailedOpen(const std::string& path, const std::string& why);
  // "USB", "UASP" or "1394".
  void SetBus(const std::string& path, const std::string& bus);

  // Drops every device but `path` (record --device).
  void KeepOnly(const std::string& path);

  std::size_t devices() const { return devices_.size(); }
  // The scenario file: `comment` (lines, each written after "# ") first.
  std::string ScenarioText(const std::vector<std::string>& comment) const;

 private:
  struct Reply {
    bool ok = false;
    std::vector<uint8_t> data;
  };
  struct Device {
    std::string path;
    std::string bus;
    bool opened = false;
    std::string open_failure;
    std::map<std::string, Reply> replies;  // the first reply of each kind of request
    std::vector<std::string> differed;     // kinds whose later replies were not the first's
    bool inquiry_seen = false;
    Reply inquiry;  // the longest successful INQUIRY, else the failure
    int flash_busy_reads = 0;
    bool flash_ready_seen = false;
  };
  Device& Find(const std::string& path);

  std::vector<Device> devices_;
};

}  // namespace qvb::virt
