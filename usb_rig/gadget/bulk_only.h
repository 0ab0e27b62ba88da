// USB Mass Storage Bulk-Only Transport, the part that does not touch a device file: command
// block wrappers in, status wrappers out, and what the data phase of a finished command must
// look like on the wire.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qvb::rig {

constexpr std::size_t kCbwSize = 31;
constexpr std::size_t kCswSize = 13;
constexpr uint8_t kCswPassed = 0;
constexpr uint8_t kCswFailed = 1;

struct Cbw {
  uint32_t tag = 0;
  uint32_t data_length = 0;  // what the host expects to move
  bool data_in = false;
  uint8_t lun = 0;
  uint8_t cb_length = 0;
  std::array<uint8_t, 16> cb{};
};

// Accepts exactly 31 bytes that begin "USBC" and carry a command block of 1 to 16 bytes.
bool ParseCbw(const uint8_t* data, std::size_t size, Cbw& cbw);

std::array<uint8_t, kCswSize> MakeCsw(uint32_t tag, uint32_t residue, uint8_t status);

// What a command's execution left: whether it ended GOOD and how many bytes it produced
// (data-in) or took (data-out).
struct Outcome {
  bool good = false;
  uint32_t transferred = 0;
};

// The data-in phase and the status of a finished command, as the host must see them.
struct DataInPlan {
  uint32_t send = 0;         // bytes of data to send
  bool zero_length = false;  // a zero-length packet after them ends a short transfer
  bool stall = false;        // halt bulk IN instead of sending data
  uint32_t residue = 0;
  uint8_t status = kCswPassed;
};

// A reply shorter than the host asked for ends with a short packet; when its length is a
// multiple of the packet size the host cannot tell the end without a zero-length packet. A
// failed command that expected data halts IN, so the host stops waiting for data, then reports
// the whole length as residue.
DataInPlan PlanDataIn(const Cbw& cbw, const Outcome& outcome, uint32_t max_packet);

// Residue and status of a data-out or no-data command.
DataInPlan PlanNoDataIn(const Cbw& cbw, const Outcome& outcome);

}  // namespace qvb::rig
