// SHA-256, and the digests the build recorded of the firmware images it carries: the update
// checks the image it loaded against them before anything is sent to a device.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qvb {

using Sha256Digest = std::array<uint8_t, 32>;

Sha256Digest Sha256(const uint8_t* data, std::size_t size);

// The digest the build recorded for the carried image `name`; null when it recorded none.
const Sha256Digest* RecordedImageDigest(const char* name);

// Whether `size` bytes at `bytes` are the image the build recorded under `name`. False when
// the build recorded no such image.
bool MatchesRecordedDigest(const char* name, const uint8_t* bytes, std::size_t size);

}  // namespace qvb
