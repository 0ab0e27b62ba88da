// --virtual SCENARIO: the virtual bridge of a scenario file stands in for the attached disks.
#pragma once

#include <memory>
#include <string>

namespace qvb::cli {

class VirtualDevices {
 public:
  VirtualDevices();
  // Takes the virtual bridge out of the device seams again.
  ~VirtualDevices();
  VirtualDevices(const VirtualDevices&) = delete;
  VirtualDevices& operator=(const VirtualDevices&) = delete;

  // Reads the scenario and installs the bridge behind the SCSI and disk-interface seams.
  // False with `error` set when the file cannot be read or is not a valid scenario.
  bool Load(const std::string& file, std::string& error);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qvb::cli
