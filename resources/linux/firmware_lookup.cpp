// Linux: the images are built into the binary (resources/embedded_images.cpp, generated).
#include <cstring>

#include "device/firmware_image.h"
#include "resources/embedded_images.h"

namespace qvb {

FirmwareResource FindFirmwareResource(const char* name) {
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

}  // namespace qvb
