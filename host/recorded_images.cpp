#include "host/recorded_images.h"

#include <cstring>

#include "resources/image_digests.h"

namespace qvb {

const Sha256Digest* RecordedImages::RecordedDigest(const char* name) {
  std::size_t count = 0;
  const resources::RecordedDigest* recorded = resources::RecordedDigests(count);
  for (std::size_t i = 0; i < count; ++i)
    if (std::strcmp(recorded[i].name, name) == 0) return &recorded[i].sha256;
  return nullptr;
}

bool RecordedImages::AreTestImages() {
  return resources::CarriesTestImages();
}

}  // namespace qvb
