// IdentifyBridge against a device whose every reply is fuzz input.
#include "device/identification.h"
#include "fuzz/fuzz_device.h"
#include "fuzz/harnesses.h"

namespace qvb::fuzz {

int IdentifyOne(const uint8_t* data, std::size_t size) {
  Input input(data, size);
  InputDevice device(input);
  QuietSystem system;
  Installed installed(&device, &system);

  const uint8_t code = IdentifyBridge(kDevicePath);
  device.CloseForGood();

  Require(code < kModelTableRows, "the model code is a row of the model table");
  // Only a code-8 bridge shows a box, and only one.
  Require(system.boxes == 0 || (system.boxes == 1 && code == 8), "message boxes");
  // INQUIRY, probe, two information reads, the READ BUFFER descriptor and page (each failure
  // followed by REQUEST SENSE), the name, the code-8 read, the vendor page and the flag read.
  Require(device.requests().size() <= 14, "a bounded number of commands");
  for (const SeenRequest& r : device.requests())
    Require(r.transfer_length <= (1u << kMaxPageExponent), "no transfer beyond the largest page");
  return 0;
}

}  // namespace qvb::fuzz
