// USB Attached SCSI without streams, the part that does not touch a device file: command
// information units in, READ/WRITE READY and status units out, and how long a command's data
// phase is. A UAS command carries no transfer length: the device must know it from the command
// block, as a real bridge does, or send its reply's own length.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvb::rig {

constexpr uint8_t kIuCommand = 0x01;
constexpr uint8_t kIuStatus = 0x03;
constexpr uint8_t kIuResponse = 0x04;
constexpr uint8_t kIuTaskManagement = 0x05;
constexpr uint8_t kIuReadReady = 0x06;
constexpr uint8_t kIuWriteReady = 0x07;
constexpr std::size_t kCommandIuSize = 32;  // with a 16-byte command block
constexpr std::size_t kStatusIuHeader = 16;
constexpr std::size_t kMaxSenseInIu = 96;

struct CommandIu {
  uint16_t tag = 0;
  bool lun_zero = true;   // the one logical unit there is
  uint8_t cb_length = 0;  // from the operation code's group: UAS does not send it
  std::array<uint8_t, 16> cb{};
};

// Accepts a command unit of at least 32 bytes; a task-management unit sets `task` and the tag.
bool ParseCommandIu(const uint8_t* data, std::size_t size, CommandIu& iu, bool& task);

// The command block's length by its operation code's group (vendor groups: 12, as the updater's).
uint8_t CommandLength(uint8_t opcode);

// The answer of a logical unit that does not exist: INQUIRY says "no device here" (peripheral
// qualifier 3), which ends the kernel's scan; anything else fails with LOGICAL UNIT NOT
// SUPPORTED. Without this the kernel would find the bridge at every LUN it tries.
constexpr uint8_t kNoUnitInquiry[36] = {0x7F, 0, 0, 0, 31};
constexpr uint8_t kNoUnitSense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x25, 0};

enum class Direction { None, In, Out };

struct Transfer {
  Direction direction = Direction::None;
  uint32_t length = 0;  // when `known`
  bool known = false;   // false: the reply is as long as the device makes it
};

// What the command block says about its data phase: allocation and parameter-list lengths of
// the standard commands, the length fields of the bridge's memory and control blocks; the
// bridge's other vendor reads say nothing, and their replies have their own length.
Transfer TransferOf(const uint8_t* cb, uint8_t cb_length);

std::array<uint8_t, 4> MakeReadyIu(uint8_t id, uint16_t tag);
// A status unit: SCSI status and, when given, the sense data (at most 96 bytes are carried).
std::vector<uint8_t> MakeStatusIu(uint16_t tag, uint8_t status, const uint8_t* sense,
                                  std::size_t sense_length);
// The answer to a task-management unit: "function complete".
std::array<uint8_t, 8> MakeResponseIu(uint16_t tag);

}  // namespace qvb::rig
