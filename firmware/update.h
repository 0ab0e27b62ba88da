// The firmware update of one device: load the carried image, write it in WRITE BUFFER pieces,
// read it back with READ BUFFER, compare, and try a second time when anything failed.
#pragma once

#include <cstdint>

namespace qvb {

constexpr uint32_t kStagingAreaSize = 0x80000;
constexpr uint32_t kDownloadLength = 0x10400;
constexpr uint32_t kPieceSize = 1024;
constexpr uint32_t kLoaderCapacity = 0xC400;
constexpr uint8_t kBoundaryReady = 0x0A;
constexpr uint8_t kBoundaryLoader = 0xFF;
constexpr int kUpdateAttempts = 2;
constexpr int kLoaderTries = 3;
constexpr uint32_t kLoaderSettleMs = 2000;
constexpr uint32_t kControlSettleMs = 500;

enum class UpdatePhase { Write, ReadBack };

// What the procedure hands control to while it runs. The window processes its pending messages
// after each written piece of the normal path; a terminal front end shows progress.
class UpdateObserver {
 public:
  virtual ~UpdateObserver() = default;
  virtual void ProcessMessages() {}
  // Attempt `attempt` (1 or 2) begins; reported even when it then fails before a piece moves.
  virtual void OnAttempt(int /*attempt*/) {}
  // A piece moved: `done` of `total` pieces of this phase in attempt `attempt` (1 or 2).
  virtual void OnProgress(UpdatePhase, int /*attempt*/, uint32_t /*done*/, uint32_t /*total*/) {}
  // The carried image is not the one the build recorded; the update ends before anything is
  // sent to the device.
  virtual void OnImageDamaged() {}
  // The read-back of attempt `attempt` was compared with the image.
  virtual void OnCompared(int /*attempt*/, bool /*same*/) {}
  // Sleep has been asked to hold off (whatever the answer) and the first write comes next:
  // from here on a stop would leave the bridge half-written.
  virtual void OnWritesBegin() {}
};

// 1 when the image was written and read back equal within the compare window, else 0. An image
// whose SHA-256 is not the one the build recorded fails before anything is sent; then a test
// build reads the test-device mark (one INQUIRY) and fails on a device without it. Sleep is held
// back from the first write to the end.
int UpdateFirmware(UpdateObserver* window, const char* path);

// Writes the image from `data` (an area of `data_size` bytes): the bridge's reported capacity,
// rounded up to 512, decides how much; a size beyond the area fails before anything is sent.
// `length` counts only on the loader path. 1 for success, 0 for failure.
int DownloadFirmware(const char* path, uint32_t base_offset, const uint8_t* data,
                     uint32_t data_size, uint32_t length, int loader,
                     UpdateObserver* observer = nullptr, int attempt = 1);
// Reads the bridge's copy back into `destination` (`size` bytes; never more, whatever capacity
// the bridge reports). Positions not read arrive as zeros. 1 when every piece was read.
int ReadBackFirmware(const char* path, uint32_t base_offset, uint8_t* destination, uint32_t size,
                     UpdateObserver* observer = nullptr, int attempt = 1);

}  // namespace qvb
