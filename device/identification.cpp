#include "device/identification.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "device/bridge_commands.h"
#include "device/system_services.h"

namespace qvb {

const char kModelTable[kModelTableRows][kModelTableRowSize] = {
    "",    "721", "726", "733", "733", "742", "714", "755", "758", "767",
    "767", "772", "829", "823", "863", "841", "847", "852", "858", "874",
    "869", "880", "886", "772", "755", "767", "767", "755", "767", "767",
    "836", "818", "811", "805", "742", "733", "738", "742", "721", "726",
};

namespace {

constexpr int kInquiryLength = 40;
constexpr int kModelCompareLength = 3;
constexpr char kModelPrefix = 'w';
constexpr int kInquiryModelAt = 36;
constexpr int kInfoModelAt = 8;
constexpr int kCheckInfoLength = 12;
constexpr int kVendorPageLength = 512;
constexpr uint8_t kVendorPageArgumentA = 100;
constexpr uint8_t kVendorPageArgumentB = 1;
constexpr uint8_t kBufferPageId = 1;
constexpr int kPageBytesRead = 6;  // bytes 3 to 5 are compared
constexpr int kBridgeNameLength = 8;

using InfoBlock = std::array<uint8_t, kBridgeInfoSize>;

bool HasSignature(const uint8_t* block) {
  return block[0] == kBridgeInfoSignature0 && block[1] == kBridgeInfoSignature1;
}

// Four model characters of the information block as a text; a zero byte ends it.
void ModelText(const InfoBlock& info, char (&text)[5]) {
  std::memcpy(text, &info[kInfoModelAt], 4);
  text[4] = '\0';
}

bool BeginsWith(const char* text, const char* literal) {
  return std::strncmp(text, literal, std::strlen(literal)) == 0;
}

// The model text of INQUIRY bytes 36 to 39.
uint8_t FromInquiryModel(const uint8_t* inquiry) {
  const char* model = reinterpret_cast<const char*>(inquiry + kInquiryModelAt);
  uint8_t code = kModelCodeNone;
  if (model[0] == kModelPrefix) {
    char digits[4] = {model[1], model[2], model[3], '\0'};
    code = SearchModelTable(digits);
  }
  if (code == kModelCodeNone && std::strncmp(model, "w761", 4) == 0) code = 9;
  return code;
}

// A bridge that answers the probe tells its model through the information block.
uint8_t FromInformationBlock(const char* path, const std::array<uint8_t, 2>& probe) {
  InfoBlock info{};
  int transferred = 0;
  char model[5];
  if (ReadBridgeInfo(path, info.data(), kBridgeInfoSize, &transferred)) {
    if (!HasSignature(info.data())) {
      const unsigned word =
          static_cast<unsigned>(probe[0]) | (static_cast<unsigned>(probe[1]) << 8);
      return static_cast<uint8_t>(35 + ((word >> 5) & 3));
    }
    char vendor[8];
    char product[8];
    std::snprintf(vendor, sizeof vendor, "%X%X", info[2], info[3]);
    std::snprintf(product, sizeof product, "%X%X", info[4], info[5]);
    if (std::strstr(vendor, "7E21") && std::strstr(product, "6A4C")) return 39;
    ModelText(info, model);
    uint8_t code = SearchModelTable(model);
    if (code == kModelCodeNone && BeginsWith(model, "761")) code = 9;
    return code;
  }
  // The older command: model characters only, no vendor/product and no "761" rule.
  if (!ReadBridgeInfoAlt(path, info.data(), kBridgeInfoSize, &transferred)) return kModelCodeNone;
  if (!HasSignature(info.data())) return kModelCodeNone;
  ModelText(info, model);
  return SearchModelTable(model);
}

// A bridge that does not answer the probe may show its model in READ BUFFER page 1.
// The page size comes from the device's offset-boundary exponent. Only a page that the
// command can ask for in full and that reaches byte 5 is looked at; since the transport hands
// over undelivered bytes as zeros and every pattern needs nonzero bytes 4 and 5, no code can
// come from bytes the device did not send.
uint8_t FromBufferPage(const char* path) {
  std::array<uint8_t, 4> descriptor{};
  if (!ReadBuffer(path, kBufferModeDescriptor, kBufferPageId, 0, descriptor.data(), 4))
    return kModelCodeNone;
  const int exponent = descriptor[0];
  if (exponent > kMaxPageExponent) return kModelCodeNone;
  const int size = 1 << exponent;
  std::unique_ptr<uint8_t[]> page(new (std::nothrow) uint8_t[static_cast<std::size_t>(size)]());
  if (!page) return kModelCodeNone;
  if (!ReadBuffer(path, kBufferModeVendor, kBufferPageId, 0, page.get(), size))
    return kModelCodeNone;
  if (size < kPageBytesRead) return kModelCodeNone;
  if (page[4] == 0x08 && page[5] == 0x63) return 14;
  if (page[4] == 0x08 && page[5] == 0x74) return 19;
  if (page[3] == '8' && page[4] == '4' && page[5] == '1') return 15;
  return kModelCodeNone;
}

bool NamedByBridgeName(uint8_t code) {
  switch (code) {
    case 0:
    case 1:
    case 3:
    case 5:
    case 7:
    case 11:
    case 32:
      return true;
    default:
      return false;
  }
}

// Older bridges tell their model only by name. `buffer` is the 40-byte INQUIRY buffer.
uint8_t FromBridgeName(const char* path, uint8_t* buffer, uint8_t code) {
  if (!ReadBridgeName(path, buffer, kInquiryLength)) return code;
  char name[kBridgeNameLength + 1];
  std::memcpy(name, buffer, kBridgeNameLength);
  name[kBridgeNameLength] = '\0';
  struct Literal {
    const char* text;
    uint8_t code;
  };
  static const Literal kNames[] = {
      {"w721C", 1},  {"w733A3", 4}, {"w742C", 5},  {"w742E", 34},
      {"w811A", 32}, {"w755", 7},   {"w9163", 11},
  };
  for (const Literal& literal : kNames)
    if (BeginsWith(name, literal.text)) return literal.code;
  return code;
}

// A code-8 bridge must read back its information block, fourth model character "1" or "2".
void CheckCode8(const char* path) {
  std::array<uint8_t, kCheckInfoLength> check{};
  int transferred = 0;
  const bool readable = ReadBridgeInfo(path, check.data(), kCheckInfoLength, &transferred) != 0;
  if (readable && HasSignature(check.data()) && (check[11] == '1' || check[11] == '2')) return;
  System().MessageBox("Get chip information fail !", "Error", kMbIconError | kMbOk);
}

// A code-12 bridge that answers the vendor page is the model of row 30.
uint8_t CheckCode12(const char* path) {
  std::array<uint8_t, kVendorPageLength> page{};
  if (ReadVendorPage(path, kVendorPageArgumentA, kVendorPageArgumentB, page.data(),
                     kVendorPageLength))
    return 30;
  TestBridgeFlag(path);  // its answer changes nothing
  return 12;
}

}  // namespace

uint8_t SearchModelTable(const char* candidate) {
  for (int index = 1; index < kModelTableRows; ++index)
    if (std::strncmp(candidate, kModelTable[index], kModelCompareLength) == 0)
      return static_cast<uint8_t>(index);
  return kModelCodeNone;
}

uint8_t IdentifyBridge(const char* path) {
  uint8_t code = kModelCodeNone;
  std::array<uint8_t, kInquiryLength> inquiry{};
  if (Inquiry(path, inquiry.data(), kInquiryLength)) {
    code = FromInquiryModel(inquiry.data());
    if (code == kModelCodeNone) {
      std::array<uint8_t, 2> probe{};
      if (ProbeBridge(path, probe.data()))
        code = FromInformationBlock(path, probe);
      else
        code = FromBufferPage(path);
    }
  }

  // The last three checks are alternatives: no code belongs to more than one of their groups.
  if (NamedByBridgeName(code))
    code = FromBridgeName(path, inquiry.data(), code);
  else if (code == 8)
    CheckCode8(path);
  else if (code == 12)
    code = CheckCode12(path);
  return code;
}

}  // namespace qvb
