// The SHA-256 of each firmware image of the build, computed when the images were made (the
// generated image_digests.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qvb::resources {

struct RecordedDigest {
  const char* name;
  std::array<uint8_t, 32> sha256;
};

// Whether the images are generated test images (no QVB_FIRMWARE_DIR): such a build writes only
// to test devices.
bool CarriesTestImages();

// All digests of the build, `count` of them.
const RecordedDigest* RecordedDigests(std::size_t& count);

}  // namespace qvb::resources
