// The firmware images built into a Linux binary (the generated embedded_images.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvb::resources {

struct EmbeddedImage {
  const char* name;
  const uint8_t* begin;
  const uint8_t* end;
};

// All images of the build, `count` of them.
const EmbeddedImage* EmbeddedImages(std::size_t& count);

}  // namespace qvb::resources
