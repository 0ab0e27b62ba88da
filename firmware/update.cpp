// Download and verification: the update image goes to the bridge in 1024-byte WRITE BUFFER
// pieces (after a loader where the bridge asks for one) and is read back and compared.
#include "firmware/update.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "device/aligned_buffer.h"
#include "device/bridge_commands.h"
#include "device/firmware_image.h"
#include "device/image_digest.h"
#include "device/system_services.h"
#include "device/test_device.h"

namespace qvb {
namespace {

constexpr uint32_t kCompareFirstEnd = 512;      // positions 0..511 are compared
constexpr uint32_t kCompareSecondStart = 1024;  // and 1024..0x103FF
constexpr uint32_t kCompareSecondEnd = 0x10400;
constexpr uint32_t kControlDataSize = 512;
constexpr uint8_t kControlSubCode = 3;

// Sizes here come from a 24-bit capacity or an image of at most 512 KiB, so nothing wraps.
uint32_t RoundUp(uint32_t value, uint32_t multiple) {
  return (value + multiple - 1) / multiple * multiple;
}

struct Descriptor {
  uint8_t boundary = 0;
  uint32_t capacity = 0;
};

bool ReadDescriptor(const char* path, Descriptor& descriptor) {
  std::array<uint8_t, 4> reply{};
  if (!ReadBuffer(path, kBufferModeDescriptor, 0, 0, reply.data(), 4)) return false;
  descriptor.boundary = reply[0];
  descriptor.capacity = (uint32_t{reply[1]} << 16) | (uint32_t{reply[2]} << 8) | reply[3];
  return true;
}

// Writes `size` bytes of `source` in pieces at base + p. The last piece carries what is left
// when `size` is not a multiple of the piece size, so nothing is taken from beyond the buffer.
bool WritePieces(const char* path, uint32_t base_offset, const uint8_t* source, uint32_t size,
                 bool process_messages, UpdateObserver* observer, int attempt) {
  if (size == 0) return false;
  const uint32_t total = (size + kPieceSize - 1) / kPieceSize;
  uint32_t done = 0;
  for (uint32_t p = 0; p < size; p += kPieceSize) {
    const uint32_t piece = std::min(kPieceSize, size - p);
    if (!WriteBuffer(path, 0, kBufferModeMicrocodeDeferred, source + p, base_offset + p, piece))
      return false;
    if (observer) {
      observer->OnProgress(UpdatePhase::Write, attempt, ++done, total);
      if (process_messages) observer->ProcessMessages();
    }
  }
  return true;
}

bool InCompareWindow(uint32_t position) {
  return position < kCompareFirstEnd ||
         (position >= kCompareSecondStart && position < kCompareSecondEnd);
}

bool SameInCompareWindow(const uint8_t* reference, const uint8_t* read_back, uint32_t size) {
  for (uint32_t i = 0; i < size; ++i)
    if (InCompareWindow(i) && reference[i] != read_back[i]) return false;
  return true;
}

// Holds sleep back for its lifetime: a machine that suspends half-way through the writes leaves
// the bridge with half an image. Without it the update still goes on.
class SleepInhibition {
 public:
  SleepInhibition() {
    std::string reason;
    held_ = System().InhibitSleep(reason);
  }
  ~SleepInhibition() {
    if (held_) System().AllowSleep();
  }
  SleepInhibition(const SleepInhibition&) = delete;
  SleepInhibition& operator=(const SleepInhibition&) = delete;

 private:
  bool held_ = false;
};

int DownloadWithLoader(const char* path, uint32_t base_offset, const uint8_t* data,
                       uint32_t data_size, uint32_t length, UpdateObserver* observer, int attempt) {
  // 5.1: the loader image must be exactly 64 KiB.
  AlignedBuffer loader;
  if (!loader.Allocate(kLoaderImageSize)) return 0;
  // Sized before it is copied: the loader buffer holds exactly one 64 KiB image.
  const FirmwareResource resource = LookUpFirmwareResource(kLoaderImageName);
  if (!resource.found || !resource.bytes || resource.size != kLoaderImageSize) return 0;
  if (LoadLoaderImage(loader.data(), 0, 0) != kLoaderImageSize) return 0;
  // The loader is sent from position base offset on; only offset 0 keeps it inside the image.
  if (base_offset != 0) return 0;

  // 5.2-5.3
  if (!WriteBuffer(path, 0, kBufferModeMicrocodeActivate, loader.data(), base_offset,
                   kLoaderImageSize))
    return 0;
  System().Sleep(kLoaderSettleMs);

  std::vector<uint8_t> control(kControlDataSize, 0xFF);
  const uint32_t placed = std::min(length, data_size);
  for (int attempt_try = 0; attempt_try < kLoaderTries; ++attempt_try) {
    if (!BridgeControl(path, 0, control.data(), 0, kControlSubCode)) return 0;
    System().Sleep(kControlSettleMs);
    Descriptor descriptor;
    if (!ReadDescriptor(path, descriptor) || descriptor.boundary != kBoundaryReady) return 0;
    // As on the normal path: a size beyond the data the pieces are taken from, or none at
    // all, fails the download before any piece is written.
    const uint32_t size = RoundUp(descriptor.capacity, 512);
    if (size == 0 || size > data_size) return 0;
    AlignedBuffer transfer;
    if (!transfer.Allocate(size)) return 0;
    std::memcpy(transfer.data(), data, std::min(placed, size));
    if (WritePieces(path, base_offset, transfer.data(), size, false, observer, attempt)) return 1;
  }
  return 0;
}

}  // namespace

int DownloadFirmware(const char* path, uint32_t base_offset, const uint8_t* data,
                     uint32_t data_size, uint32_t length, int loader, UpdateObserver* observer,
                     int attempt) {
  // 1-3: the bridge's buffer must be in the form this path expects.
  Descriptor descriptor;
  if (!ReadDescriptor(path, descriptor)) return 0;
  if (loader) {
    if (descriptor.boundary != kBoundaryLoader || descriptor.capacity != kLoaderCapacity) return 0;
    return DownloadWithLoader(path, base_offset, data, data_size, length, observer, attempt);
  }
  if (descriptor.boundary != kBoundaryReady) return 0;

  // 4: normal path. A size beyond the caller's data would send bytes from outside it.
  const uint32_t size = RoundUp(descriptor.capacity, 512);
  if (size == 0 || size > data_size) return 0;
  AlignedBuffer transfer;
  if (!transfer.Allocate(size)) return 0;
  std::memcpy(transfer.data(), data, size);
  return WritePieces(path, base_offset, transfer.data(), size, true, observer, attempt) ? 1 : 0;
}

int ReadBackFirmware(const char* path, uint32_t base_offset, uint8_t* destination, uint32_t size,
                     UpdateObserver* observer, int attempt) {
  Descriptor descriptor;
  if (!ReadDescriptor(path, descriptor) || descriptor.boundary != kBoundaryReady) return 0;
  AlignedBuffer buffer;
  if (!buffer.Allocate(size)) return 0;

  // Only what fits in the destination is read: a larger capacity is not followed past it.
  const uint32_t limit = std::min(descriptor.capacity, size);
  const uint32_t total = (limit + kPieceSize - 1) / kPieceSize;
  uint32_t done = 0;
  bool complete = descriptor.capacity != 0;
  for (uint32_t p = 0; p < limit; p += kPieceSize) {
    const uint32_t piece = std::min(kPieceSize, limit - p);
    if (!ReadBuffer(path, kBufferModeVendor, 0, base_offset + p, buffer.data() + p,
                    static_cast<int>(piece))) {
      complete = false;
      break;
    }
    if (observer) observer->OnProgress(UpdatePhase::ReadBack, attempt, ++done, total);
  }
  // Also after a failed read: what was not read arrives as zeros.
  if (size > 0) std::memcpy(destination, buffer.data(), size);
  return complete ? 1 : 0;
}

int UpdateFirmware(UpdateObserver* window, const char* path) {
  // 1: the carried image, whole, into the staging area. Missing, empty or oversized images
  // fail here, before anything is sent.
  std::vector<uint8_t> staging;
  const FirmwareResource image = LookUpFirmwareResource(kFirmwareImageName);
  const uint32_t image_size = image.found && image.bytes ? image.size : 0;
  if (image_size == 0 || image_size > kStagingAreaSize) return 0;
  staging.assign(kStagingAreaSize, 0);
  if (LoadFirmwareImage(staging.data(), 0, 0) != image_size) return 0;
  // A damaged image (a flipped bit on disk or in a download) would be written and then
  // "verified" against the same damaged bytes: it must be the one the build carried.
  if (!MatchesRecordedDigest(kFirmwareImageName, staging.data(), image_size)) {
    if (window) window->OnImageDamaged();
    return 0;
  }

  // A test build's images are not firmware: a real bridge written with them is bricked. The
  // front ends refuse first and say why; this is the last word, before any other command.
  if (!MayWriteFirmware(path)) return 0;

  // 2-3
  const uint32_t rounded = RoundUp(image_size, 256);
  AlignedBuffer reference, read_back;
  if (!reference.Allocate(rounded) || !read_back.Allocate(rounded)) return 0;
  std::memcpy(reference.data(), staging.data(), image_size);

  // 4: the path is chosen once for both attempts.
  std::array<uint8_t, kBridgeInfoSize> info{};
  int transferred = 0;
  if (!ReadBridgeInfo(path, info.data(), kBridgeInfoSize, &transferred)) return 0;
  const int loader = info[6] == 0 ? 1 : 0;

  // The writes begin with the download below.
  const SleepInhibition awake;
  if (window) window->OnWritesBegin();

  // 5: two attempts at most.
  for (int attempt = 1; attempt <= kUpdateAttempts; ++attempt) {
    if (window) window->OnAttempt(attempt);
    if (!DownloadFirmware(path, 0, staging.data(), kStagingAreaSize, kDownloadLength, loader,
                          window, attempt))
      continue;
    if (!ReadBackFirmware(path, 0, read_back.data(), rounded, window, attempt)) continue;
    const bool same = SameInCompareWindow(reference.data(), read_back.data(), rounded);
    if (window) window->OnCompared(attempt, same);
    if (same) return 1;
  }
  return 0;
}

}  // namespace qvb
