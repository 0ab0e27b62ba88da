// The firmware images the program carries, as the host holds them (Windows: resources of type
// "FW" in the program's own module; Linux: images assembled into the binary), with the SHA-256
// the build recorded of each. A seam like the others (device/seams.h): the host object installs
// the build's own, and tests put images of their own (a loader image, a damaged image) in front.
#pragma once

#include <cstdint>

#include "device/image_digest.h"

namespace qvb {

// One image as the host found it.
struct FirmwareResource {
  bool found = false;              // an image of the name exists
  const uint8_t* bytes = nullptr;  // null when it exists but its bytes cannot be had
  uint32_t size = 0;
};

class CarriedImages {
 public:
  virtual ~CarriedImages() = default;
  // The image `name`; its bytes stay valid for the life of the process.
  virtual FirmwareResource Find(const char* name) = 0;
  // The digest the build recorded for the image `name`; null when it recorded none.
  virtual const Sha256Digest* RecordedDigest(const char* name) = 0;
  // Whether the images are generated test images (a build without the vendor's images).
  virtual bool AreTestImages() = 0;
};

// The images installed now. With none installed nothing is found and, as nothing can then be
// written, the build counts as a test build.
CarriedImages& Images();

}  // namespace qvb
