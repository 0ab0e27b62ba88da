#include "usb_rig/gadget/uas.h"

#include <algorithm>
#include <cstring>

namespace qvb::rig {
namespace {

uint32_t Be(const uint8_t* p, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | p[i];
  return value;
}

}  // namespace

bool ParseCommandIu(const uint8_t* data, std::size_t size, CommandIu& iu, bool& task) {
  task = false;
  if (!data || size < 4) return false;
  iu = CommandIu{};
  iu.tag = static_cast<uint16_t>(Be(data + 2, 2));
  if (data[0] == kIuTaskManagement) {
    task = true;
    return true;
  }
  if (data[0] != kIuCommand || size < kCommandIuSize) return false;
  iu.lun_zero = std::all_of(data + 8, data + 16, [](uint8_t b) { return b == 0; });
  std::memcpy(iu.cb.data(), data + 16, iu.cb.size());
  iu.cb_length = CommandLength(iu.cb[0]);
  return true;
}

uint8_t CommandLength(uint8_t opcode) {
  switch (opcode >> 5) {
    case 0:
      return 6;
    case 1:
    case 2:
      return 10;
    case 4:
      return 16;
    default:
      return 12;
  }
}

Transfer TransferOf(const uint8_t* cb, uint8_t cb_length) {
  if (!cb || cb_length == 0) return {};
  const Transfer none{Direction::None, 0, true};
  auto in = [](uint32_t length) { return Transfer{Direction::In, length, true}; };
  auto out = [](uint32_t length) { return Transfer{Direction::Out, length, true}; };
  switch (cb[0]) {
    case 0x00:  // TEST UNIT READY
    case 0x1B:  // START STOP UNIT
    case 0x1E:  // PREVENT ALLOW MEDIUM REMOVAL
    case 0x35:  // SYNCHRONIZE CACHE(10)
      return none;
    case 0x03:  // REQUEST SENSE
    case 0x1A:  // MODE SENSE(6)
      return in(cb[4]);
    case 0x12:  // INQUIRY
      return in(Be(cb + 3, 2));
    case 0x5A:  // MODE SENSE(10)
      return in(Be(cb + 7, 2));
    case 0x25:  // READ CAPACITY(10)
      return in(8);
    case 0x9E:  // READ CAPACITY(16)
      return in(Be(cb + 10, 4));
    case 0x28:  // READ(10)
      return in(Be(cb + 7, 2) * 512);
    case 0x2A:  // WRITE(10)
      return out(Be(cb + 7, 2) * 512);
    case 0xA0:  // REPORT LUNS
      return in(Be(cb + 6, 4));
    case 0x3C:  // READ BUFFER
      return in(Be(cb + 6, 3));
    case 0x3B:  // WRITE BUFFER
      return out(Be(cb + 6, 3));
    case 0xDF:  // the bridge's control (selector 0xFB, data out) and memory reads
      if (cb_length < 12) return {Direction::In, 0, false};
      if (cb[11] == 0xFB) {
        const uint32_t length = Be(cb + 2, 3);
        return length == 0 ? none : out(length);
      }
      return in(Be(cb + 3, 2));
    default:
      return {Direction::In, 0, false};
  }
}

std::array<uint8_t, 4> MakeReadyIu(uint8_t id, uint16_t tag) {
  return {id, 0, static_cast<uint8_t>(tag >> 8), static_cast<uint8_t>(tag)};
}

std::vector<uint8_t> MakeStatusIu(uint16_t tag, uint8_t status, const uint8_t* sense,
                                  std::size_t sense_length) {
  const std::size_t n = sense ? std::min(sense_length, kMaxSenseInIu) : 0;
  std::vector<uint8_t> iu(kStatusIuHeader + n, 0);
  iu[0] = kIuStatus;
  iu[2] = static_cast<uint8_t>(tag >> 8);
  iu[3] = static_cast<uint8_t>(tag);
  iu[6] = status;
  iu[14] = static_cast<uint8_t>(n >> 8);
  iu[15] = static_cast<uint8_t>(n);
  if (n > 0) std::memcpy(iu.data() + kStatusIuHeader, sense, n);
  return iu;
}

std::array<uint8_t, 8> MakeResponseIu(uint16_t tag) {
  return {kIuResponse, 0, static_cast<uint8_t>(tag >> 8), static_cast<uint8_t>(tag), 0, 0, 0, 0};
}

}  // namespace qvb::rig
