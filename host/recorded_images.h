// What the build recorded of the images it carries (resources/, generated), shared by the hosts
// that carry them: each host adds how it finds an image's bytes.
#pragma once

#include "device/carried_images.h"

namespace qvb {

class RecordedImages : public CarriedImages {
 public:
  const Sha256Digest* RecordedDigest(const char* name) override;
  bool AreTestImages() override;
};

}  // namespace qvb
