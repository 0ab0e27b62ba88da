// Windows: the images are resources of type "FW" in the program's own module.
#include <windows.h>

#include "device/firmware_image.h"
#include "host/host.h"
#include "host/recorded_images.h"

namespace qvb {
namespace {

class ModuleResources : public RecordedImages {
 public:
  FirmwareResource Find(const char* name) override {
    FirmwareResource resource;
    const HRSRC info = ::FindResourceA(nullptr, name, kFirmwareResourceType);
    if (info == nullptr) return resource;
    resource.found = true;
    resource.size = ::SizeofResource(nullptr, info);
    // A loaded resource stays mapped with the module; there is nothing to release.
    const HGLOBAL loaded = ::LoadResource(nullptr, info);
    if (loaded == nullptr) return resource;
    resource.bytes = static_cast<const uint8_t*>(::LockResource(loaded));
    return resource;
  }
};

}  // namespace

CarriedImages& BuildImages() {
  static ModuleResources images;
  return images;
}

}  // namespace qvb
