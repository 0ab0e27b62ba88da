// The logical unit behind the gadget: the commands any block device must answer for the kernel
// to attach it (a small blank disk), and every other command block handed to the virtual
// bridge, so that the kernel's usb-storage driver talks to the same model as the in-process
// tests.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "usb_rig/gadget/bulk_only.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb::rig {

constexpr uint32_t kBlockSize = 512;

enum class Route {
  Disk,    // answered as a plain block device
  Bridge,  // handed to the virtual bridge
};

// Which commands the disk part answers: the attach-time and block I/O commands. INQUIRY goes to
// the bridge (it owns the identification) unless it asks for a vital product data page.
Route RouteOf(const uint8_t* cb, uint8_t cb_length);

// A short name of an opcode, for the command log.
std::string OpcodeName(const uint8_t* cb, uint8_t cb_length);

struct CommandRecord {
  std::string name;
  uint32_t data_length = 0;
  bool data_in = false;
  bool good = false;
  uint32_t transferred = 0;
};

class StorageTarget {
 public:
  StorageTarget(virt::VirtualBridge& bridge, uint32_t blocks) : bridge_(bridge), blocks_(blocks) {}

  // Runs one command. `data` holds cbw.data_length bytes: the data-out phase already read, or
  // room for the data-in reply. `vanished` is set when the bridge's device is gone.
  Outcome Execute(const Cbw& cbw, uint8_t* data, bool& vanished);

  // The sense data of the last failure, as the bridge gives it to REQUEST SENSE: what a UAS
  // device puts in its status unit. Not logged: no REQUEST SENSE crosses the bus.
  uint32_t Sense(uint8_t* sense, uint32_t size);

  void set_blocks(uint32_t blocks) { blocks_ = blocks; }
  const std::vector<CommandRecord>& log() const { return log_; }
  // The log as the suite reads it, one line per command: name, direction, the length the
  // device took, outcome, bytes moved.
  void WriteLog(std::ostream& out) const;

 private:
  Outcome AnswerDisk(const Cbw& cbw, uint8_t* data);
  Outcome AskBridge(const Cbw& cbw, uint8_t* data, bool& vanished);

  virt::VirtualBridge& bridge_;
  uint32_t blocks_;
  std::vector<CommandRecord> log_;
};

}  // namespace qvb::rig
