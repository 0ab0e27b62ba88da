// UpdateFirmware against a device whose every reply is fuzz input.
#include "firmware/update.h"
#include "fuzz/fuzz_device.h"
#include "fuzz/harnesses.h"

namespace qvb::fuzz {

int UpdateOne(const uint8_t* data, std::size_t size) {
  Input input(data, size);
  const uint8_t flags = input.Take();
  InputDevice device(input);
  device.marked = (flags & 2) == 0;
  QuietSystem system;
  Installed installed(&device, &system, nullptr, (flags & 1) ? WithTestLoader : nullptr);

  UpdateObserver observer;
  const int result = UpdateFirmware(&observer, kDevicePath);
  device.CloseForGood();

  Require(result == 0 || result == 1, "the result is a success flag");
  Require(device.marked || (result == 0 && !device.AnyWrite()),
          "a test build writes nothing to a device without the test mark");
  bool echoed = false;
  CheckUpdateRequests(device, echoed);
  // Two attempts with the loader: 2000 ms after the loader and 500 ms after each of three
  // controls; the normal path does not pause.
  Require(system.slept_ms <= 2 * (kLoaderSettleMs + kLoaderTries * kControlSettleMs),
          "bounded pauses");
  // Success over a read-back of the device's own memory: that memory holds the image.
  if (result == 1 && echoed)
    Require(MemoryHoldsImage(device), "success only when the image is in the device");
  Require(device.opens_after_close() == 0, "nothing after the update returned");
  return 0;
}

}  // namespace qvb::fuzz
