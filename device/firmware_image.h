// The firmware images the program carries among its own resources (type "FW"), and the two
// loaders that copy one into a caller's buffer.
#pragma once

#include <cstdint>

#include "device/carried_images.h"

namespace qvb {

constexpr char kFirmwareResourceType[] = "FW";
constexpr char kFirmwareImageName[] = "QVB886_FW_133_01_00_06";
constexpr char kLoaderImageName[] = "QVB886_ROM0_MFG";
constexpr uint32_t kFirmwareImageSize = 67072;  // each carried update image
constexpr uint32_t kLoaderImageSize = 65536;    // the only size a loader image may have

// Copies the update image from `offset` on into `dest`: `length` bytes, or up to the end of the
// image when `length` is 0 or the range runs past the end; an offset at or past the end copies
// nothing. Returns the whole image's size whatever was copied (not the count), or 0 when the
// image is missing or its bytes cannot be had (then `dest` is untouched).
uint32_t LoadFirmwareImage(uint8_t* dest, uint32_t offset, uint32_t length);
// The same for the loader image.
uint32_t LoadLoaderImage(uint8_t* dest, uint32_t offset, uint32_t length);

// The image `name` among the carried images installed now (device/carried_images.h).
FirmwareResource LookUpFirmwareResource(const char* name);

// The copy rule of both loaders, applied to a resource already looked up.
uint32_t CopyFirmwareResource(const FirmwareResource& resource, uint8_t* dest, uint32_t offset,
                              uint32_t length);

}  // namespace qvb
