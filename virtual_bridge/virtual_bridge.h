// A model of the bridge, in process, behind the SCSI seam. It answers the standard and vendor
// commands as the callers rely on, keeps a flash image, records every request and takes faults.
// Test and demo code: never linked into the shipped Windows program.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/disk_interfaces.h"
#include "device/scsi_host.h"
#include "device/test_device.h"

namespace qvb::virt {

using InquiryData = std::array<uint8_t, kTestDeviceInquiryLength>;
// INQUIRY data that holds nothing but the test-device mark (bytes 40-55): every virtual disk is
// a test device unless a scenario says `test_device = no`.
InquiryData MarkedInquiry();

// What one virtual disk answers. An absent optional means: the command fails with CHECK
// CONDITION (illegal request).
struct DeviceModel {
  std::string path;  // the device path, Windows style; matched without regard to case
  bool inquiry_ok = true;
  // Bytes 8-15 vendor, 16-31 product, 32-35 rev, 36-39 model, 40-55 the test-device mark.
  InquiryData inquiry = MarkedInquiry();
  std::optional<std::array<uint8_t, 2>> probe;
  std::optional<std::array<uint8_t, 16>> info;
  std::optional<std::array<uint8_t, 16>> info_alt;
  std::optional<std::array<uint8_t, 4>> config;
  std::optional<std::array<uint8_t, 4>> flash_id;
  std::optional<std::array<uint8_t, 4>> flag_memory;  // bridge memory at 0xFDB0
  std::optional<std::vector<uint8_t>> name;           // ReadBridgeName reply
  bool vendor_page_ok = false;
  std::optional<std::array<uint8_t, 4>> buffer1_descriptor;
  std::optional<std::vector<uint8_t>> buffer1_page;
  int flash_busy_reads = 0;  // status reads that show busy before the flash is ready
  // Buffer 0: the firmware area.
  uint8_t descriptor_boundary = 0x0A;
  uint32_t capacity = 0x10400;
  std::vector<uint8_t> flash = std::vector<uint8_t>(0x80000, 0xFF);
  bool answers_buffer0 = true;
  // Flash positions that do not keep what is written: they store the byte inverted.
  std::vector<uint32_t> bad_cells;
  // The disk-interface list: the detail call for this device's interface fails, which ends
  // the walk there.
  bool detail_fails = false;
  // The USB serial number the disk-interface list tells for this device; "" for none.
  std::string serial;
  // The bus text the disk-interface list tells ("usbstor", "scsi", "sbp2"); "": the path's own.
  std::string bus_text;
};

// A QVB886 at the given version on a USB mass-storage path.
DeviceModel MakeQvb886(const std::string& path, std::array<uint8_t, 4> version);
// Sets the INQUIRY vendor (8) and product (16) identification, blank padded.
void SetInquiryText(DeviceModel& model, const std::string& vendor, const std::string& product);
// Puts the prefix letter and three digits (or any 4 bytes) at INQUIRY bytes 36-39.
void SetInquiryModel(DeviceModel& model, const std::string& text);
// Sets or clears the test-device mark: an unmarked disk stands for a real bridge.
void SetTestDeviceMark(DeviceModel& model, bool marked);

struct Request {
  std::string path;
  std::vector<uint8_t> cdb;
  uint8_t data_in = 0;
  uint32_t transfer_length = 0;
  uint32_t timeout = 0;
  bool has_buffer = false;
  ShareMode share = ShareMode::ReadWrite;
  std::vector<uint8_t> data_out;  // what a data-out request carried
  bool succeeded = false;
};

enum class FaultKind {
  CheckCondition,  // the command ends with CHECK CONDITION
  ShortReply,      // a data-in reply delivers only `short_length` bytes
  CorruptData,     // a data-in reply arrives with its first byte inverted
  PlatformError,   // the platform rejects the request
  Vanish,          // the device is gone: this and every later open fails
};

struct Fault {
  FaultKind kind = FaultKind::CheckCondition;
  std::string command;   // CommandName() to match, empty: any
  int from_request = 0;  // first request index (0-based, over the whole bridge) it applies to
  int times = -1;        // how many matching requests it hits; -1: all from then on
  int short_length = 0;
  std::string path;  // empty: any device
};

// A name for a command block: "inquiry", "request_sense", "read_buffer", "write_buffer",
// "probe", "memory", "control", "info", "info_alt", "flash_status", "flash_id", "config",
// "name", "vendor_page", or "unknown".
std::string CommandName(const std::vector<uint8_t>& cdb);

// Also the system's disk-interface list: its devices in order, each on its own path, so the
// Windows bus filter runs over the paths as they stand.
class VirtualBridge : public ScsiHost, public DiskInterfaces {
 public:
  VirtualBridge() = default;
  explicit VirtualBridge(std::vector<DeviceModel> devices) : devices_(std::move(devices)) {}

  ScsiOpen Open(const char* path, ShareMode share) override;

  // DiskInterfaces: a walk over the devices as they stand when it starts; null while the list
  // is made unavailable. A device's path is its own bus text.
  std::unique_ptr<DiskInterfaceWalk> Walk() override;
  const char* BusText(const char* device_path) override;
  std::string SerialNumber(const char* device_path) override;
  void SetInterfaceListAvailable(bool available) { interface_list_available_ = available; }
  int walks() const { return walks_; }

  std::vector<DeviceModel>& devices() { return devices_; }
  DeviceModel* Find(const std::string& path);
  void AddFault(const Fault& fault) { faults_.push_back(fault); }
  void ClearFaults() {
    faults_.clear();
    fault_hits_.clear();
  }

  const std::vector<Request>& requests() const { return requests_; }
  void ClearRequests() { requests_.clear(); }
  // The names of the recorded commands, in order.
  std::vector<std::string> CommandNames() const;
  int opens() const { return opens_; }

  // Handles one request for the device at `index`; used by the open device.
  ScsiResult Handle(std::size_t index, ShareMode share, const ScsiRequest& request);

 private:
  bool Answer(DeviceModel& model, std::size_t index, const std::vector<uint8_t>& cdb,
              const ScsiRequest& request, uint32_t& delivered);

  std::vector<DeviceModel> devices_;
  std::vector<Fault> faults_;
  std::vector<Request> requests_;
  std::vector<int> fault_hits_;
  int opens_ = 0;
  bool interface_list_available_ = true;
  int walks_ = 0;
  // Loader path state per device index.
  struct LoaderState {
    bool loader_written = false;
    bool running = false;
    int descriptor_reads = 0;
  };
  std::vector<LoaderState> loader_;
  std::vector<int> status_reads_;
};

}  // namespace qvb::virt
