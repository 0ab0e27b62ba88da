#include "usb_rig/gadget/bulk_only.h"

#include <algorithm>
#include <cstring>

namespace qvb::rig {
namespace {

uint32_t Get32Le(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void Put32Le(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

bool ParseCbw(const uint8_t* data, std::size_t size, Cbw& cbw) {
  if (!data || size != kCbwSize) return false;
  if (std::memcmp(data, "USBC", 4) != 0) return false;
  const uint8_t cb_length = data[14] & 0x1F;
  if (cb_length < 1 || cb_length > 16) return false;
  cbw = Cbw{};
  cbw.tag = Get32Le(data + 4);
  cbw.data_length = Get32Le(data + 8);
  cbw.data_in = (data[12] & 0x80) != 0;
  cbw.lun = data[13] & 0x0F;
  cbw.cb_length = cb_length;
  std::memcpy(cbw.cb.data(), data + 15, cb_length);
  return true;
}

std::array<uint8_t, kCswSize> MakeCsw(uint32_t tag, uint32_t residue, uint8_t status) {
  std::array<uint8_t, kCswSize> csw{};
  std::memcpy(csw.data(), "USBS", 4);
  Put32Le(csw.data() + 4, tag);
  Put32Le(csw.data() + 8, residue);
  csw[12] = status;
  return csw;
}

DataInPlan PlanDataIn(const Cbw& cbw, const Outcome& outcome, uint32_t max_packet) {
  DataInPlan plan;
  if (!outcome.good) {
    plan.stall = cbw.data_length > 0;
    plan.residue = cbw.data_length;
    plan.status = kCswFailed;
    return plan;
  }
  plan.send = std::min(outcome.transferred, cbw.data_length);
  plan.residue = cbw.data_length - plan.send;
  plan.zero_length = plan.send < cbw.data_length && max_packet > 0 && plan.send % max_packet == 0;
  return plan;
}

DataInPlan PlanNoDataIn(const Cbw& cbw, const Outcome& outcome) {
  DataInPlan plan;
  if (!outcome.good) {
    plan.residue = cbw.data_length;
    plan.status = kCswFailed;
    return plan;
  }
  plan.residue = cbw.data_length - std::min(outcome.transferred, cbw.data_length);
  return plan;
}

}  // namespace qvb::rig
