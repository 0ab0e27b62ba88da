#include "usb_rig/gadget/storage_target.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qvb::rig {
namespace {

uint32_t Get32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void Put32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// Copies a reply into the data-in area, never more than the host asked for.
Outcome Reply(const Cbw& cbw, uint8_t* data, const uint8_t* reply, uint32_t size) {
  const uint32_t n = std::min(size, cbw.data_length);
  if (n > 0 && data) std::memcpy(data, reply, n);
  return {true, n};
}

}  // namespace

Route RouteOf(const uint8_t* cb, uint8_t cb_length) {
  if (cb_length == 0) return Route::Disk;
  switch (cb[0]) {
    case 0x12:  // INQUIRY: a vital product data page is not the bridge's business
      return cb_length > 1 && (cb[1] & 0x01) ? Route::Disk : Route::Bridge;
    case 0x00:  // TEST UNIT READY
    case 0x1A:  // MODE SENSE(6)
    case 0x5A:  // MODE SENSE(10)
    case 0x25:  // READ CAPACITY(10)
    case 0x9E:  // SERVICE ACTION IN(16): READ CAPACITY(16)
    case 0x28:  // READ(10)
    case 0x2A:  // WRITE(10)
    case 0xA0:  // REPORT LUNS
    case 0x1E:  // PREVENT ALLOW MEDIUM REMOVAL
    case 0x1B:  // START STOP UNIT
    case 0x35:  // SYNCHRONIZE CACHE(10)
    case 0xA1:  // ATA PASS-THROUGH(12)
    case 0x85:  // ATA PASS-THROUGH(16)
      return Route::Disk;
    default:
      return Route::Bridge;
  }
}

std::string OpcodeName(const uint8_t* cb, uint8_t cb_length) {
  if (cb_length == 0) return "empty";
  switch (cb[0]) {
    case 0x00:
      return "test_unit_ready";
    case 0x1A:
      return "mode_sense6";
    case 0x5A:
      return "mode_sense10";
    case 0x25:
      return "read_capacity10";
    case 0x9E:
      return "read_capacity16";
    case 0x28:
      return "read10";
    case 0x2A:
      return "write10";
    case 0xA0:
      return "report_luns";
    case 0x1E:
      return "prevent_allow";
    case 0x1B:
      return "start_stop";
    case 0x35:
      return "synchronize_cache";
    case 0xA1:
    case 0x85:
      return "ata_pass_through";
    case 0x12:
      if (cb_length > 1 && (cb[1] & 0x01)) return "inquiry_vpd";
      break;
    default:
      break;
  }
  std::string name = virt::CommandName(std::vector<uint8_t>(cb, cb + cb_length));
  if (name == "unknown") {
    char text[16];
    std::snprintf(text, sizeof text, "op_%02x", cb[0]);
    name = text;
  }
  return name;
}

Outcome StorageTarget::Execute(const Cbw& cbw, uint8_t* data, bool& vanished) {
  vanished = false;
  const Outcome outcome = RouteOf(cbw.cb.data(), cbw.cb_length) == Route::Disk
                              ? AnswerDisk(cbw, data)
                              : AskBridge(cbw, data, vanished);
  log_.push_back({OpcodeName(cbw.cb.data(), cbw.cb_length), cbw.data_length, cbw.data_in,
                  outcome.good, outcome.transferred});
  return outcome;
}

uint32_t StorageTarget::Sense(uint8_t* sense, uint32_t size) {
  Cbw cbw;
  cbw.data_in = true;
  cbw.data_length = std::min<uint32_t>(size, 0xFF);
  cbw.cb_length = 6;
  cbw.cb[0] = 0x03;
  cbw.cb[4] = static_cast<uint8_t>(cbw.data_length);
  bool vanished = false;
  const Outcome outcome = AskBridge(cbw, sense, vanished);
  return outcome.good ? outcome.transferred : 0;
}

Outcome StorageTarget::AnswerDisk(const Cbw& cbw, uint8_t* data) {
  const uint8_t* cb = cbw.cb.data();
  const uint32_t last_block = blocks_ > 0 ? blocks_ - 1 : 0;
  switch (cb[0]) {
    case 0x00:
    case 0x1E:
    case 0x1B:
    case 0x35:
      return {true, 0};
    case 0x1A: {
      // Mode data length, medium type, not write-protected, no block descriptor.
      const uint8_t header[4] = {3, 0, 0, 0};
      return Reply(cbw, data, header, sizeof header);
    }
    case 0x5A: {
      const uint8_t header[8] = {0, 6, 0, 0, 0, 0, 0, 0};
      return Reply(cbw, data, header, sizeof header);
    }
    case 0x25: {
      uint8_t capacity[8];
      Put32(capacity, last_block);
      Put32(capacity + 4, kBlockSize);
      return Reply(cbw, data, capacity, sizeof capacity);
    }
    case 0x9E: {
      if (cbw.cb_length < 16 || (cb[1] & 0x1F) != 0x10) return {false, 0};
      uint8_t capacity[32] = {};
      Put32(capacity + 4, last_block);
      Put32(capacity + 8, kBlockSize);
      return Reply(cbw, data, capacity, sizeof capacity);
    }
    case 0x28:
    case 0x2A: {
      if (cbw.cb_length < 10) return {false, 0};
      const uint64_t lba = Get32(cb + 2);
      const uint32_t count = (uint32_t{cb[7]} << 8) | cb[8];
      if (lba + count > blocks_) return {false, 0};
      const uint64_t bytes = uint64_t{count} * kBlockSize;
      if (bytes > cbw.data_length || (cb[0] == 0x28) != cbw.data_in) return {false, 0};
      // A blank disk: reads give zeros, writes are taken and forgotten.
      if (cb[0] == 0x28 && data) std::memset(data, 0, bytes);
      return {true, static_cast<uint32_t>(bytes)};
    }
    case 0xA0: {
      const uint8_t luns[16] = {0, 0, 0, 8};  // one LUN, number 0
      return Reply(cbw, data, luns, sizeof luns);
    }
    default:
      return {false, 0};  // ATA PASS-THROUGH, vital product data: not supported
  }
}

Outcome StorageTarget::AskBridge(const Cbw& cbw, uint8_t* data, bool& vanished) {
  if (bridge_.devices().empty()) {
    vanished = true;
    return {false, 0};
  }
  const std::string path = bridge_.devices()[0].path;
  ScsiOpen opened = bridge_.Open(path.c_str(), ShareMode::ReadWrite);
  if (!opened.device) {
    vanished = true;
    return {false, 0};
  }
  ScsiRequest request;
  request.direction = cbw.data_in ? ScsiDirection::FromDevice : ScsiDirection::ToDevice;
  request.cdb_length = cbw.cb_length;
  request.transfer_length = cbw.data_length;
  request.timeout_seconds = 10;
  request.data = cbw.data_length > 0 ? data : nullptr;
  std::memcpy(request.cdb, cbw.cb.data(), cbw.cb_length);
  const ScsiResult result = opened.device->Send(request);
  if (!result.ok()) return {false, 0};
  const uint32_t transferred =
      cbw.data_in ? std::min(result.transferred, cbw.data_length) : cbw.data_length;
  return {true, transferred};
}

void StorageTarget::WriteLog(std::ostream& out) const {
  for (const auto& r : log_)
    out << r.name << ' ' << (r.data_in ? "in" : "out") << ' ' << r.data_length << ' '
        << (r.good ? "good" : "fail") << ' ' << r.transferred << '\n';
}

}  // namespace qvb::rig
