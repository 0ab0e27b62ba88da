#include "fuzz/fuzz_device.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/bridge_commands.h"
#include "device/test_device.h"
#include "firmware/update.h"
#include "host/host.h"

namespace qvb::fuzz {
namespace {

constexpr uint32_t kPendingError = 1117;  // ERROR_IO_DEVICE
constexpr uint32_t kDeviceGone = 2;       // ERROR_FILE_NOT_FOUND

uint32_t Get24(const uint8_t* at) {
  return (uint32_t{at[0]} << 16) | (uint32_t{at[1]} << 8) | at[2];
}

class OpenDevice : public ScsiDevice {
 public:
  explicit OpenDevice(InputDevice& device) : device_(device) {}
  ScsiResult Send(const ScsiRequest& request) override { return device_.Send(request); }

 private:
  InputDevice& device_;
};

class ListWalk : public DiskInterfaceWalk {
 public:
  explicit ListWalk(const std::vector<std::string>& paths) : paths_(paths) {}
  bool Read(uint32_t index, DiskInterface& entry) override {
    if (index >= paths_.size()) return false;
    entry.device_path = paths_[index].c_str();
    entry.bus_text = entry.device_path;
    return true;
  }

 private:
  std::vector<std::string> paths_;
};

}  // namespace

void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

std::size_t Input::TakeInto(uint8_t* dest, std::size_t count) {
  const std::size_t n = std::min(count, remaining());
  if (n > 0) std::memcpy(dest, data_ + at_, n);
  at_ += n;
  return n;
}

ScsiOpen InputDevice::Open(const char*, ShareMode) {
  ++opens_;
  if (closed_) {
    ++opens_after_close_;
    return ScsiOpen::Failed(ScsiOutcome::OsError, kDeviceGone);
  }
  uint8_t next = 0;
  // Used up: the device is gone.
  if (!input_.Peek(next)) return ScsiOpen::Failed(ScsiOutcome::OsError, kDeviceGone);
  if (next == kOpenFails) {
    input_.Take();
    return ScsiOpen::Failed(ScsiOutcome::OsError, kDeviceGone);
  }
  return {std::make_unique<OpenDevice>(*this), {}};
}

ScsiResult InputDevice::Send(const ScsiRequest& request) {
  const bool data_in = request.direction == ScsiDirection::FromDevice;
  SeenRequest seen;
  seen.cdb_length = request.cdb_length;
  std::memcpy(seen.cdb, request.cdb, sizeof seen.cdb);
  seen.data_in = data_in ? 1 : 0;
  seen.transfer_length = request.transfer_length;

  // What the transport promises every request: a buffer exactly when there is a data phase.
  Require((request.transfer_length == 0) == (request.data == nullptr),
          "a data buffer goes with a nonzero transfer length");
  Require(request.cdb_length >= 6 && request.cdb_length <= 16, "command block length");

  const uint8_t status = input_.Take(kStatusCheckCondition);
  ScsiResult result;
  result.transferred = request.transfer_length;
  auto* buffer = static_cast<uint8_t*>(request.data);
  const uint32_t length = request.transfer_length;
  const uint8_t* cdb = request.cdb;
  const bool buffer0 = request.cdb_length == 10 && cdb[2] == 0;

  if (data_in) {
    uint32_t delivered = 0;
    const bool echo =
        (status & kEcho) != 0 && buffer0 && cdb[0] == kOpReadBuffer && cdb[1] == kBufferModeVendor;
    if (echo) {
      const uint32_t offset = Get24(&cdb[3]);
      if (offset < memory_.size()) {
        delivered = std::min<uint32_t>(length, static_cast<uint32_t>(memory_.size() - offset));
        if (delivered > 0) std::memcpy(buffer, memory_.data() + offset, delivered);
      }
      seen.echoed = true;
      result.transferred = delivered;
    } else {
      const uint8_t code = input_.Take(0);
      const uint32_t wanted = code >= kLengthLying ? length : std::min<uint32_t>(code, length);
      if (wanted > 0) input_.TakeInto(buffer, wanted);
      delivered = wanted;  // what the input lacked arrives as the transport's zeros
      result.transferred = code == kLengthLying ? length + 0x10000 : delivered;
    }
    if (cdb[0] == kOpInquiry && length == kTestDeviceInquiryLength) {
      if (marked)
        std::memcpy(buffer + kTestDeviceMarkAt, kTestDeviceMark, kTestDeviceMarkSize);
      else
        std::memset(buffer + kTestDeviceMarkAt, 0, kTestDeviceMarkSize);
      if (result.transferred < length) result.transferred = length;
    }
  } else if (buffer0 && cdb[0] == kOpWriteBuffer && cdb[1] == kBufferModeMicrocodeDeferred &&
             buffer != nullptr) {
    const uint32_t offset = Get24(&cdb[3]);
    if (offset < memory_.size()) {
      const uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(memory_.size() - offset));
      std::memcpy(memory_.data() + offset, buffer, n);
    }
  }
  requests_.push_back(seen);

  switch (status & 0x03) {
    case kStatusCheckCondition:
      result.outcome = ScsiOutcome::ScsiStatus;
      result.scsi_status = kScsiStatusCheckCondition;
      break;
    case kStatusRejected:
    case kStatusErrorPending:
      result.outcome = ScsiOutcome::OsError;
      result.os_error = kPendingError;
      break;
    default:
      break;
  }
  return result;
}

FirmwareResource FuzzImages::Find(const char* name) {
  return lookup_ ? lookup_(BuildImages(), name) : BuildImages().Find(name);
}

const Sha256Digest* FuzzImages::RecordedDigest(const char* name) {
  return BuildImages().RecordedDigest(name);
}

bool FuzzImages::AreTestImages() {
  return BuildImages().AreTestImages();
}

Installed::Installed(ScsiHost* host, QuietSystem* system, DiskInterfaces* disks, ImageLookup lookup)
    : images_(lookup), seams_(HostSeams{host, disks, system, system, &images_}) {}

FirmwareResource WithTestLoader(CarriedImages& carried, const char* name) {
  static const std::vector<uint8_t> loader = [] {
    std::vector<uint8_t> bytes(kLoaderImageSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 + 5);
    return bytes;
  }();
  if (std::strcmp(name, kLoaderImageName) == 0)
    return {true, loader.data(), static_cast<uint32_t>(loader.size())};
  return carried.Find(name);
}

const std::vector<uint8_t>& CarriedImage() {
  static const std::vector<uint8_t> image = [] {
    std::vector<uint8_t> bytes(kFirmwareImageSize);
    Require(CopyFirmwareResource(BuildImages().Find(kFirmwareImageName), bytes.data(), 0, 0) ==
                kFirmwareImageSize,
            "the carried image");
    return bytes;
  }();
  return image;
}

std::unique_ptr<DiskInterfaceWalk> InputDisks::Walk() {
  return std::make_unique<ListWalk>(paths_);
}

std::string DiskPath(int index, uint8_t variant) {
  static const char* const kStacks[] = {"usbstor", "scsi", "sbp2", "pcistor"};
  std::string path = std::string("\\\\?\\") + kStacks[variant & 0x03] +
                     "#disk&ven_quorvel&prod_qvb886#" + std::to_string(index) +
                     "&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  if (variant & 0x08) path.append(300, 'x');
  if (variant & 0x04)
    for (char& c : path) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return path;
}

bool InputDevice::AnyWrite() const {
  for (const SeenRequest& r : requests_)
    if (r.cdb[0] == kOpWriteBuffer ||
        (r.cdb[0] == kOpBridgeMemory && r.cdb[11] == kSelectorControl))
      return true;
  return false;
}

void CheckUpdateRequests(const InputDevice& device, bool& last_read_back_echoed) {
  // The read-back area: the image rounded up to 256 bytes.
  const uint32_t read_back_area = (kFirmwareImageSize + 255) / 256 * 256;
  last_read_back_echoed = false;
  for (const SeenRequest& r : device.requests()) {
    const uint8_t* cdb = r.cdb;
    if (cdb[0] != kOpReadBuffer && cdb[0] != kOpWriteBuffer) continue;
    Require(r.cdb_length == 10, "buffer commands are 10-byte blocks");
    // The transport sends a length of 1 as 2.
    const uint32_t asked = Get24(&cdb[6]);
    Require(asked == r.transfer_length || (asked == 1 && r.transfer_length == 2),
            "allocation length equals the transfer");
    if (cdb[2] != 0) continue;
    const uint32_t offset = Get24(&cdb[3]);
    const uint64_t end = uint64_t{offset} + r.transfer_length;
    if (cdb[0] == kOpWriteBuffer && cdb[1] == kBufferModeMicrocodeDeferred)
      Require(offset % kPieceSize == 0 && r.transfer_length <= kPieceSize && r.transfer_length > 0,
              "a firmware piece is at most 1024 bytes at a multiple of 1024");
    if (cdb[0] == kOpWriteBuffer && cdb[1] == kBufferModeMicrocodeActivate)
      Require(offset == 0 && r.transfer_length == kLoaderImageSize, "the loader is 64 KiB");
    if (cdb[0] == kOpReadBuffer && cdb[1] == kBufferModeDescriptor) {
      Require(offset == 0 && r.transfer_length == 4, "the descriptor is 4 bytes");
      last_read_back_echoed = true;
    }
    if (cdb[0] == kOpReadBuffer && cdb[1] == kBufferModeVendor) {
      Require(offset % kPieceSize == 0 && r.transfer_length <= kPieceSize && end <= read_back_area,
              "a read-back piece stays inside the read-back area");
      if (!r.echoed) last_read_back_echoed = false;
    }
    Require(cdb[1] != 0x0F, "deferred microcode is never activated");
  }
}

bool MemoryHoldsImage(const InputDevice& device) {
  const std::vector<uint8_t>& image = CarriedImage();
  const std::vector<uint8_t>& memory = device.memory();
  for (uint32_t i = 0; i < 0x10400; ++i) {
    if (i >= 512 && i < 1024) continue;
    if (i >= image.size() || memory[i] != image[i]) return false;
  }
  return true;
}

}  // namespace qvb::fuzz
