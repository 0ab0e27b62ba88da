// Images of a test's own in front of the carried ones: a loader image, a damaged image, another
// image under the update image's name. Digests and the kind of build stay the carried images'.
#pragma once

#include "device/carried_images.h"
#include "device/seams.h"

namespace qvb::testing {

// Finds the image `name`; `carried` are the images installed before, to fall back on.
using ImageLookup = FirmwareResource (*)(CarriedImages& carried, const char* name);

// Installs `lookup` in front of the images installed now, for the object's lifetime. A null
// lookup leaves the images as they are.
class ScopedImageLookup {
 public:
  explicit ScopedImageLookup(ImageLookup lookup)
      : images_(Images(), lookup), seams_(HostSeams{.images = lookup ? &images_ : nullptr}) {}
  ScopedImageLookup(const ScopedImageLookup&) = delete;
  ScopedImageLookup& operator=(const ScopedImageLookup&) = delete;

 private:
  class InFront : public CarriedImages {
   public:
    InFront(CarriedImages& carried, ImageLookup lookup) : carried_(carried), lookup_(lookup) {}
    FirmwareResource Find(const char* name) override { return lookup_(carried_, name); }
    const Sha256Digest* RecordedDigest(const char* name) override {
      return carried_.RecordedDigest(name);
    }
    bool AreTestImages() override { return carried_.AreTestImages(); }

   private:
    CarriedImages& carried_;
    ImageLookup lookup_;
  };

  InFront images_;
  ScopedSeams seams_;
};

}  // namespace qvb::testing
