// The none host carries no image: nothing can be written, so it counts as a test build.
#include "host/host.h"

namespace qvb {
namespace {

class NoImages : public CarriedImages {
 public:
  FirmwareResource Find(const char*) override { return {}; }
  const Sha256Digest* RecordedDigest(const char*) override { return nullptr; }
  bool AreTestImages() override { return true; }
};

}  // namespace

CarriedImages& BuildImages() {
  static NoImages images;
  return images;
}

}  // namespace qvb
