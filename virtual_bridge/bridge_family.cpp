#include "virtual_bridge/bridge_family.h"

#include <algorithm>

namespace qvb::virt {
namespace {

template <typename Edit>
void EditBlocks(DeviceModel& model, Edit edit) {
  if (model.info) edit(*model.info);
  if (model.info_alt) edit(*model.info_alt);
}

}  // namespace

DeviceModel MakeBridge(const std::string& path) {
  DeviceModel model;
  model.path = path;
  SetInquiryText(model, "Quorvel", "USB Bridge");
  model.inquiry[4] = 35;
  std::copy_n("1.00", 4, model.inquiry.begin() + 32);
  model.probe = std::array<uint8_t, 2>{0x00, 0x00};
  model.info = std::array<uint8_t, 16>{0xF4, 0xE7, 0x7E, 0x21, 0x00, 0x00, 0x01};
  return model;
}

std::array<uint8_t, 16> InfoBlockOf(const DeviceModel& model) {
  if (model.info) return *model.info;
  if (model.info_alt) return *model.info_alt;
  return {0xF4, 0xE7};
}

void SetInfoVia(DeviceModel& model, InfoVia via) {
  const std::array<uint8_t, 16> block = InfoBlockOf(model);
  model.info.reset();
  model.info_alt.reset();
  if (via == InfoVia::Info || via == InfoVia::Both) model.info = block;
  if (via == InfoVia::InfoAlt || via == InfoVia::Both) model.info_alt = block;
}

void SetInfoSignature(DeviceModel& model, bool present) {
  EditBlocks(model, [&](std::array<uint8_t, 16>& block) {
    block[0] = present ? 0xF4 : 0x00;
    block[1] = present ? 0xE7 : 0x00;
  });
}

void SetInfoIds(DeviceModel& model, uint16_t vendor, uint16_t product) {
  EditBlocks(model, [&](std::array<uint8_t, 16>& block) {
    block[2] = static_cast<uint8_t>(vendor >> 8);
    block[3] = static_cast<uint8_t>(vendor);
    block[4] = static_cast<uint8_t>(product >> 8);
    block[5] = static_cast<uint8_t>(product);
  });
}

void SetInfoModel(DeviceModel& model, const std::string& text) {
  EditBlocks(model, [&](std::array<uint8_t, 16>& block) {
    for (std::size_t i = 0; i < 4; ++i)
      block[8 + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
  });
}

void SetBridgeName(DeviceModel& model, const std::string& name) {
  std::vector<uint8_t> reply(name.begin(), name.end());
  reply.resize(std::max<std::size_t>(reply.size(), 40), 0);
  model.name = reply;
}

void SetBufferPage(DeviceModel& model, uint8_t exponent, const std::vector<uint8_t>& page) {
  const auto capacity = static_cast<uint32_t>(page.size());
  model.buffer1_descriptor =
      std::array<uint8_t, 4>{exponent, static_cast<uint8_t>(capacity >> 16),
                             static_cast<uint8_t>(capacity >> 8), static_cast<uint8_t>(capacity)};
  model.buffer1_page = page;
}

void SetBridgeFlagByte(DeviceModel& model, uint8_t value) {
  model.flag_memory = std::array<uint8_t, 4>{0x00, value, 0x00, 0x00};
}

}  // namespace qvb::virt
