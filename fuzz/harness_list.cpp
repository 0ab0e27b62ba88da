#include "fuzz/harnesses.h"

namespace qvb::fuzz {

const std::vector<Harness>& Harnesses() {
  static const std::vector<Harness> harnesses = {
    {"identify", IdentifyOne},
    {"refresh", RefreshOne},
    {"update", UpdateOne},
#if defined(__linux__)
    {"sysfs", SysfsOne},
#endif
  };
  return harnesses;
}

}  // namespace qvb::fuzz
