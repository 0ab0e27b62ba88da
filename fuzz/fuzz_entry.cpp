// The libFuzzer entry point of one harness; QVB_FUZZ_HARNESS names its function.
#include <cstddef>
#include <cstdint>

#include "fuzz/harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  return qvb::fuzz::QVB_FUZZ_HARNESS(data, size);
}
