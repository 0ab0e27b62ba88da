#include "device/firmware_image.h"

#include <cstring>

namespace qvb {
FirmwareResource LookUpFirmwareResource(const char* name) {
  return Images().Find(name);
}

uint32_t CopyFirmwareResource(const FirmwareResource& resource, uint8_t* dest, uint32_t offset,
                              uint32_t length) {
  if (!resource.found) return 0;
  // Found but unreadable: an empty copy with a valid-looking size would let the download
  // write a zero staging area, so it reads as missing.
  if (resource.bytes == nullptr) return 0;
  const uint32_t size = resource.size;
  // In 64 bits so that offset + length cannot wrap round below the size.
  const uint64_t end = static_cast<uint64_t>(offset) + length;
  uint32_t count = 0;
  if (length != 0 && end <= size) {
    count = length;
  } else if (offset < size) {
    count = size - offset;
  }  // an offset at or past the end copies nothing
  if (count != 0) std::memcpy(dest, resource.bytes + offset, count);
  return size;
}

uint32_t LoadFirmwareImage(uint8_t* dest, uint32_t offset, uint32_t length) {
  return CopyFirmwareResource(LookUpFirmwareResource(kFirmwareImageName), dest, offset, length);
}

uint32_t LoadLoaderImage(uint8_t* dest, uint32_t offset, uint32_t length) {
  return CopyFirmwareResource(LookUpFirmwareResource(kLoaderImageName), dest, offset, length);
}

}  // namespace qvb
