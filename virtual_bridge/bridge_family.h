// The bridge family: helpers that make a virtual disk look like any bridge model the
// identification tells apart. They edit a DeviceModel in place.
#pragma once

#include <cstdint>
#include <string>

#include "virtual_bridge/virtual_bridge.h"

namespace qvb::virt {

// Which commands answer with the bridge information block.
enum class InfoVia {
  Info,     // ReadBridgeInfo only
  InfoAlt,  // ReadBridgeInfoAlt only (the older command)
  Both,
  None,  // neither: both fail
};

// A bridge that answers the bridge test and nothing that identifies it: INQUIRY with vendor
// and product text but no model text, the probe with 00 00, and an information block with the
// signature, the maker's vendor ID 7E21, product ID 0000 and no model characters.
DeviceModel MakeBridge(const std::string& path);

// The block the information commands answer with: `info` when present, else `info_alt`, else
// an empty block carrying the signature.
std::array<uint8_t, 16> InfoBlockOf(const DeviceModel& model);
// Moves the information block to the commands of `via`.
void SetInfoVia(DeviceModel& model, InfoVia via);
// The following edit every information block present (ReadBridgeInfo's and the older one's).
void SetInfoSignature(DeviceModel& model, bool present);  // bytes 0-1: F4 E7 or 00 00
void SetInfoIds(DeviceModel& model, uint16_t vendor, uint16_t product);  // bytes 2-5
void SetInfoModel(DeviceModel& model, const std::string& text);          // bytes 8-11, zero-padded
// ReadBridgeName's reply: the text, zero-padded to 40 bytes.
void SetBridgeName(DeviceModel& model, const std::string& name);
// Buffer 1: its descriptor with the offset-boundary exponent and the page it holds.
void SetBufferPage(DeviceModel& model, uint8_t exponent, const std::vector<uint8_t>& page);
// Byte 1 of the four bytes at bridge address 0xFDB0.
void SetBridgeFlagByte(DeviceModel& model, uint8_t value);

}  // namespace qvb::virt
