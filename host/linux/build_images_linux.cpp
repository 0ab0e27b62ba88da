// Linux: the images are assembled into the binary (resources/embedded_images.cpp, generated).
#include <cstring>

#include "host/host.h"
#include "host/recorded_images.h"
#include "resources/embedded_images.h"

namespace qvb {
namespace {

class EmbeddedImages : public RecordedImages {
 public:
  FirmwareResource Find(const char* name) override {
    FirmwareResource resource;
    std::size_t count = 0;
    const resources::EmbeddedImage* images = resources::EmbeddedImages(count);
    for (std::size_t i = 0; i < count; ++i) {
      if (std::strcmp(images[i].name, name) != 0) continue;
      resource.found = true;
      resource.bytes = images[i].begin;
      resource.size = static_cast<uint32_t>(images[i].end - images[i].begin);
      break;
    }
    return resource;
  }
};

}  // namespace

CarriedImages& BuildImages() {
  static EmbeddedImages images;
  return images;
}

}  // namespace qvb
