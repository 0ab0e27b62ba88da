// The device of the fuzz harnesses: every reply of the bridge comes from the next bytes of the
// fuzz input. Once the input is used up the device is gone (every open fails), so any run ends.
//
// Input format, one record per request, read when the request is sent:
//   status byte   bits 0-1: 0 GOOD, 1 CHECK CONDITION, 2 the platform rejects the request,
//                 3 accepted but an error code is left pending;
//                 bit 2 (data-in READ BUFFER mode 1 of buffer 0 only): "echo", the reply is what
//                 the device was sent at that offset by WRITE BUFFER mode 0x0E (the device
//                 keeps it in its own memory), and nothing more is read for the request;
//   length byte   data-in only, when not echoing: 0xFF the whole transfer, 0xFE the whole
//                 transfer while reporting a transferred length larger than asked for, any
//                 other value that many bytes (at most the transfer length);
//   data          data-in only: the bytes delivered; where the input runs out, zeros.
// Before an open, a next byte of kOpenFails is taken and makes that one open fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/carried_images.h"
#include "device/disk_interfaces.h"
#include "device/firmware_image.h"
#include "device/scsi_host.h"
#include "device/seams.h"
#include "device/system_services.h"

namespace qvb::fuzz {

constexpr uint8_t kOpenFails = 0xEE;
constexpr uint8_t kStatusGood = 0;
constexpr uint8_t kStatusCheckCondition = 1;
constexpr uint8_t kStatusRejected = 2;
constexpr uint8_t kStatusErrorPending = 3;
constexpr uint8_t kEcho = 0x04;
constexpr uint8_t kLengthAll = 0xFF;
constexpr uint8_t kLengthLying = 0xFE;
// The device memory that WRITE BUFFER fills and an echoing READ BUFFER reads: the firmware area
// up to past the read-back area; pieces beyond it are taken and dropped.
constexpr uint32_t kDeviceMemorySize = 0x11000;

// Stops the run with a report when an invariant does not hold; libFuzzer records the input.
void Require(bool holds, const char* what);

class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  std::size_t remaining() const { return size_ - at_; }
  // The next byte, or `otherwise` once the input is used up.
  uint8_t Take(uint8_t otherwise = 0) { return empty() ? otherwise : data_[at_++]; }
  bool Peek(uint8_t& byte) const {
    if (empty()) return false;
    byte = data_[at_];
    return true;
  }
  // Copies up to `count` bytes into `dest`; returns how many there were.
  std::size_t TakeInto(uint8_t* dest, std::size_t count);

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// One request as the device saw it.
struct SeenRequest {
  uint8_t cdb[16] = {};
  uint8_t cdb_length = 0;
  uint8_t data_in = 0;
  uint32_t transfer_length = 0;
  bool echoed = false;
};

class InputDevice : public ScsiHost {
 public:
  explicit InputDevice(Input& input) : input_(input), memory_(kDeviceMemorySize, 0xFF) {}

  ScsiOpen Open(const char* path, ShareMode share) override;
  ScsiResult Send(const ScsiRequest& request);

  const std::vector<SeenRequest>& requests() const { return requests_; }
  const std::vector<uint8_t>& memory() const { return memory_; }
  int opens() const { return opens_; }
  // Opens made after CloseForGood(): they fail, and they are counted.
  void CloseForGood() { closed_ = true; }
  int opens_after_close() const { return opens_after_close_; }
  // Whether its replies to the test build's INQUIRY carry the test-device mark, or zeros, over
  // whatever the input gave: a marked device lets the update run on; an unmarked one stands for
  // a real bridge.
  bool marked = true;
  // Whether any WRITE BUFFER or vendor write was sent.
  bool AnyWrite() const;

 private:
  Input& input_;
  std::vector<uint8_t> memory_;
  std::vector<SeenRequest> requests_;
  int opens_ = 0;
  bool closed_ = false;
  int opens_after_close_ = 0;
};

// The platform services with nothing behind them: pauses only add to a simulated clock, message
// boxes are answered OK at once, the version is Windows 10 when asked for (so the shell prompt
// loop runs) and no shell window is ever found.
class QuietSystem : public SystemServices, public ShellServices {
 public:
  void Sleep(uint32_t milliseconds) override { slept_ms += milliseconds; }
  void DebugOutput(const char*) override {}
  int MessageBox(const char*, const char*, uint32_t) override {
    ++boxes;
    return kIdOk;
  }
  bool GetWindowsVersion(uint32_t& major, uint32_t& minor) override {
    if (!windows10) return false;
    major = 10;
    minor = 0;
    return true;
  }
  void* FindTopLevelWindow(const char*, const char*) override { return nullptr; }
  bool PostMessage(void*, uint32_t, uintptr_t, intptr_t) override { return false; }
  bool InhibitSleep(std::string&) override { return true; }
  void AllowSleep() override {}

  uint64_t slept_ms = 0;
  int boxes = 0;
  bool windows10 = false;
};

// Finds the image `name`; `carried` are the build's images, to fall back on.
using ImageLookup = FirmwareResource (*)(CarriedImages& carried, const char* name);

// The build's images, with `lookup` in front of them when it is set.
class FuzzImages : public CarriedImages {
 public:
  explicit FuzzImages(ImageLookup lookup) : lookup_(lookup) {}
  FirmwareResource Find(const char* name) override;
  const Sha256Digest* RecordedDigest(const char* name) override;
  bool AreTestImages() override;

 private:
  ImageLookup lookup_;
};

// The seams of one run, installed for the life of the object and put back after it.
class Installed {
 public:
  Installed(ScsiHost* host, QuietSystem* system, DiskInterfaces* disks = nullptr,
            ImageLookup lookup = nullptr);
  Installed(const Installed&) = delete;
  Installed& operator=(const Installed&) = delete;

 private:
  FuzzImages images_;
  ScopedSeams seams_;
};

// The carried images and a 64 KiB test loader, so that the loader path can run to its end.
FirmwareResource WithTestLoader(CarriedImages& carried, const char* name);
// The carried update image.
const std::vector<uint8_t>& CarriedImage();

// The disk interfaces of the refresh harness: `count` paths made from variant bytes.
class InputDisks : public DiskInterfaces {
 public:
  InputDisks() = default;
  void Add(std::string path) { paths_.push_back(std::move(path)); }
  std::unique_ptr<DiskInterfaceWalk> Walk() override;
  const char* BusText(const char* device_path) override { return device_path; }
  const std::vector<std::string>& paths() const { return paths_; }

 private:
  std::vector<std::string> paths_;
};

// The device path of disk `index` of the refresh harness, by `variant`: bits 0-1 the stack
// (USB mass storage, USB Attached SCSI, SBP-2, an unknown bus), bit 2 upper case, bit 3 a path
// longer than the refresh's 256-byte buffers.
std::string DiskPath(int index, uint8_t variant);

// The path the single-device harnesses address.
constexpr const char* kDevicePath =
    "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

// Checks of the update's requests that hold for any device: READ/WRITE BUFFER ask for exactly
// their transfer, firmware pieces are 1024 bytes at most at multiples of 1024, read-back pieces
// stay inside the read-back area. `last_read_back_echoed` tells whether every piece read after
// the last descriptor read was the device's own memory.
void CheckUpdateRequests(const InputDevice& device, bool& last_read_back_echoed);
// Over the compare window, whether the device memory holds the carried image.
bool MemoryHoldsImage(const InputDevice& device);

}  // namespace qvb::fuzz
