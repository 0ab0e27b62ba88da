#include "virtual_bridge/virtual_bridge.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "device/path_identity.h"
#include "device/request_log.h"

namespace qvb::virt {
namespace {

// System error codes the model reports (the Windows values, as the bridge's own host is).
constexpr uint32_t kNoSuchDevice = 2;     // ERROR_FILE_NOT_FOUND
constexpr uint32_t kGeneralFailure = 31;  // ERROR_GEN_FAILURE

uint32_t Get24(const std::vector<uint8_t>& cdb, std::size_t at) {
  return (static_cast<uint32_t>(cdb[at]) << 16) | (static_cast<uint32_t>(cdb[at + 1]) << 8) |
         cdb[at + 2];
}

class VirtualDevice : public ScsiDevice {
 public:
  VirtualDevice(VirtualBridge& bridge, std::size_t index, ShareMode share)
      : bridge_(bridge), index_(index), share_(share) {}
  ScsiResult Send(const ScsiRequest& request) override {
    return bridge_.Handle(index_, share_, request);
  }

 private:
  VirtualBridge& bridge_;
  std::size_t index_;
  ShareMode share_;
};

// The interfaces of one walk: the paths as they were when it started.
class VirtualWalk : public DiskInterfaceWalk {
 public:
  explicit VirtualWalk(const std::vector<DeviceModel>& devices) {
    for (const auto& model : devices)
      entries_.push_back({model.path, model.bus_text, model.detail_fails});
  }
  bool Read(uint32_t index, DiskInterface& entry) override {
    if (index >= entries_.size() || entries_[index].detail_fails) return false;
    entry.device_path = entries_[index].path.c_str();
    entry.bus_text =
        entries_[index].bus_text.empty() ? entry.device_path : entries_[index].bus_text.c_str();
    return true;
  }

 private:
  struct Entry {
    std::string path;
    std::string bus_text;
    bool detail_fails;
  };
  std::vector<Entry> entries_;
};

// Copies a reply into the data-in buffer, never more than the transfer asked for.
uint32_t Deliver(const ScsiRequest& request, const uint8_t* reply, std::size_t size) {
  const std::size_t n = std::min<std::size_t>(size, request.transfer_length);
  if (n > 0 && request.data) std::memcpy(request.data, reply, n);
  return static_cast<uint32_t>(n);
}

}  // namespace

DeviceModel MakeQvb886(const std::string& path, std::array<uint8_t, 4> version) {
  DeviceModel model;
  model.path = path;
  SetInquiryText(model, "Quorvel", "QVB886 NVMe");
  model.inquiry[0] = 0x00;  // direct-access block device
  model.inquiry[4] = 35;    // additional length
  std::memcpy(&model.inquiry[32], "1.00", 4);
  SetInquiryModel(model, "w886");
  model.probe = std::array<uint8_t, 2>{0x00, 0x00};
  std::array<uint8_t, 16> info{0xF4, 0xE7, 0x7E, 0x21, 0x08, 0x86, 0x01, 0x00,
                               '8',  '8',  '6',  '1',  0,    0,    0,    0};
  std::copy(version.begin(), version.end(), info.begin() + 12);
  model.info = info;
  model.config = std::array<uint8_t, 4>{0x01, 0x00, 0x00, 0x00};
  model.flash_id = std::array<uint8_t, 4>{0xEF, 0x40, 0x14, 0x00};
  model.flag_memory = std::array<uint8_t, 4>{0x00, 0xB4, 0x00, 0x00};
  return model;
}

void SetInquiryText(DeviceModel& model, const std::string& vendor, const std::string& product) {
  for (std::size_t i = 0; i < 8; ++i)
    model.inquiry[8 + i] = static_cast<uint8_t>(i < vendor.size() ? vendor[i] : ' ');
  for (std::size_t i = 0; i < 16; ++i)
    model.inquiry[16 + i] = static_cast<uint8_t>(i < product.size() ? product[i] : ' ');
}

InquiryData MarkedInquiry() {
  InquiryData inquiry{};
  std::memcpy(&inquiry[kTestDeviceMarkAt], kTestDeviceMark, kTestDeviceMarkSize);
  return inquiry;
}

void SetTestDeviceMark(DeviceModel& model, bool marked) {
  for (int i = 0; i < kTestDeviceMarkSize; ++i)
    model.inquiry[static_cast<std::size_t>(kTestDeviceMarkAt) + static_cast<std::size_t>(i)] =
        marked ? static_cast<uint8_t>(kTestDeviceMark[i]) : 0;
}

void SetInquiryModel(DeviceModel& model, const std::string& text) {
  for (std::size_t i = 0; i < 4; ++i)
    model.inquiry[36 + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
}

std::string CommandName(const std::vector<uint8_t>& cdb) {
  // One vocabulary for the log and the scenario files: a logged request is a fault line.
  return RequestName(cdb.data(), cdb.size());
}

DeviceModel* VirtualBridge::Find(const std::string& path) {
  for (auto& model : devices_)
    if (SamePath(model.path, path.c_str())) return &model;
  return nullptr;
}

const char* VirtualBridge::BusText(const char* device_path) {
  const DeviceModel* model = device_path ? Find(device_path) : nullptr;
  return model && !model->bus_text.empty() ? model->bus_text.c_str() : device_path;
}

std::string VirtualBridge::SerialNumber(const char* device_path) {
  const DeviceModel* model = device_path ? Find(device_path) : nullptr;
  return model ? model->serial : "";
}

std::vector<std::string> VirtualBridge::CommandNames() const {
  std::vector<std::string> names;
  for (const auto& r : requests_) names.push_back(CommandName(r.cdb));
  return names;
}

std::unique_ptr<DiskInterfaceWalk> VirtualBridge::Walk() {
  ++walks_;
  if (!interface_list_available_) return nullptr;
  return std::make_unique<VirtualWalk>(devices_);
}

ScsiOpen VirtualBridge::Open(const char* path, ShareMode share) {
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if (!SamePath(devices_[i].path, path)) continue;
    for (const auto& fault : faults_) {
      if (fault.kind != FaultKind::Vanish) continue;
      if (!fault.path.empty() && !SamePath(fault.path, path)) continue;
      if (static_cast<int>(requests_.size()) >= fault.from_request)
        return ScsiOpen::Failed(ScsiOutcome::OsError, kNoSuchDevice);
    }
    ++opens_;
    return {std::make_unique<VirtualDevice>(*this, i, share), {}};
  }
  return ScsiOpen::Failed(ScsiOutcome::OsError, kNoSuchDevice);
}

ScsiResult VirtualBridge::Handle(std::size_t index, ShareMode share, const ScsiRequest& request) {
  if (loader_.size() < devices_.size()) loader_.resize(devices_.size());
  if (status_reads_.size() < devices_.size()) status_reads_.resize(devices_.size(), 0);
  if (fault_hits_.size() < faults_.size()) fault_hits_.resize(faults_.size(), 0);
  DeviceModel& model = devices_[index];

  Request record;
  record.path = model.path;
  record.cdb.assign(request.cdb,
                    request.cdb + std::min<std::size_t>(request.cdb_length, kMaxCdbLength));
  const bool data_in = request.direction == ScsiDirection::FromDevice;
  record.data_in = data_in ? 1 : 0;
  record.transfer_length = request.transfer_length;
  record.timeout = request.timeout_seconds;
  record.has_buffer = request.data != nullptr;
  record.share = share;
  if (!data_in && request.data && request.transfer_length)
    record.data_out.assign(static_cast<uint8_t*>(request.data),
                           static_cast<uint8_t*>(request.data) + request.transfer_length);
  const int request_index = static_cast<int>(requests_.size());
  const std::string name = CommandName(record.cdb);

  // Which fault, if any, hits this request.
  const Fault* hit = nullptr;
  for (std::size_t f = 0; f < faults_.size(); ++f) {
    const Fault& fault = faults_[f];
    if (fault.kind == FaultKind::Vanish) continue;
    if (request_index < fault.from_request) continue;
    if (!fault.command.empty() && fault.command != name) continue;
    if (!fault.path.empty() && !SamePath(fault.path, model.path.c_str())) continue;
    if (fault.times >= 0 && fault_hits_[f] >= fault.times) continue;
    ++fault_hits_[f];
    hit = &fault;
    break;
  }

  uint32_t delivered = 0;
  bool good = true;
  if (hit && hit->kind == FaultKind::PlatformError) {
    record.succeeded = false;
    requests_.push_back(std::move(record));
    return ScsiResult::Fail(ScsiOutcome::OsError, kGeneralFailure);
  }
  if (hit && hit->kind == FaultKind::CheckCondition) {
    good = false;
  } else {
    good = Answer(model, index, record.cdb, request, delivered);
  }
  if (good && hit && data_in && request.data) {
    if (hit->kind == FaultKind::ShortReply) {
      const uint32_t keep = std::min<uint32_t>(delivered, static_cast<uint32_t>(hit->short_length));
      std::memset(static_cast<uint8_t*>(request.data) + keep, 0, request.transfer_length - keep);
      delivered = keep;
    } else if (hit->kind == FaultKind::CorruptData && delivered > 0) {
      static_cast<uint8_t*>(request.data)[0] ^= 0xFF;
    }
  }
  ScsiResult result;
  if (!good) {
    result.outcome = ScsiOutcome::ScsiStatus;
    result.scsi_status = kScsiStatusCheckCondition;
    delivered = 0;
  }
  // A data-out request reports its whole length, as the system leaves it.
  result.transferred = data_in ? delivered : request.transfer_length;
  record.succeeded = good;
  requests_.push_back(std::move(record));
  return result;
}

bool VirtualBridge::Answer(DeviceModel& model, std::size_t index, const std::vector<uint8_t>& cdb,
                           const ScsiRequest& request, uint32_t& delivered) {
  const std::string name = CommandName(cdb);
  LoaderState& loader = loader_[index];
  const bool loader_mode = model.info && (*model.info)[6] == 0;
  auto* out = static_cast<const uint8_t*>(request.data);
  const uint32_t length = request.transfer_length;

  if (name == "inquiry") {
    if (!model.inquiry_ok) return false;
    delivered =
        Deliver(request, model.inquiry.data(), std::min<std::size_t>(cdb[4], model.inquiry.size()));
    return true;
  }
  if (name == "request_sense") {
    // Illegal request, invalid field in CDB: what the last failure would have said.
    const uint8_t sense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0, 0, 0, 0, 0};
    delivered = Deliver(request, sense, sizeof sense);
    return true;
  }
  auto reply = [&](const auto& optional_reply) {
    if (!optional_reply) return false;
    delivered = Deliver(request, optional_reply->data(), optional_reply->size());
    return true;
  };
  if (name == "probe") return reply(model.probe);
  if (name == "info") return reply(model.info);
  if (name == "info_alt") return reply(model.info_alt);
  if (name == "config") return reply(model.config);
  if (name == "flash_id") return reply(model.flash_id);
  if (name == "name") return reply(model.name);
  if (name == "memory") {
    const uint16_t address = static_cast<uint16_t>((cdb[6] << 8) | cdb[7]);
    if (address != 0xFDB0) return false;
    return reply(model.flag_memory);
  }
  if (name == "vendor_page") {
    if (!model.vendor_page_ok) return false;
    std::vector<uint8_t> page(512, 0);
    delivered = Deliver(request, page.data(), page.size());
    return true;
  }
  if (name == "flash_status") {
    const uint8_t busy = status_reads_[index]++ < model.flash_busy_reads ? 0x01 : 0x00;
    const uint8_t status[2] = {busy, 0};
    delivered = Deliver(request, status, 2);
    return true;
  }
  if (name == "control") {
    const uint8_t sub_code = cdb[1];
    if (sub_code == 0x03 && loader_mode && loader.loader_written) {
      loader.running = true;
      loader.descriptor_reads = 0;
    }
    return true;
  }
  if (name == "read_buffer") {
    const int mode = cdb[1];
    const uint8_t id = cdb[2];
    const uint32_t offset = Get24(cdb, 3);
    if (id == 1) {
      if (mode == 3) return reply(model.buffer1_descriptor);
      if (mode == 1 && model.buffer1_page) {
        const auto& page = *model.buffer1_page;
        if (offset >= page.size()) return false;
        delivered = Deliver(request, page.data() + offset, page.size() - offset);
        return true;
      }
      return false;
    }
    if (id != 0 || !model.answers_buffer0) return false;
    if (mode == 3) {
      std::array<uint8_t, 4> descriptor{
          model.descriptor_boundary, static_cast<uint8_t>(model.capacity >> 16),
          static_cast<uint8_t>(model.capacity >> 8), static_cast<uint8_t>(model.capacity)};
      if (loader_mode) {
        // Until the loader runs the bridge asks for it; the loader session covers the
        // download and the read-back that follow its start, then the bridge asks again.
        if (loader.running && loader.descriptor_reads < 2) {
          ++loader.descriptor_reads;
        } else {
          loader = LoaderState{};
          descriptor = {0xFF, 0x00, 0xC4, 0x00};
        }
      }
      delivered = Deliver(request, descriptor.data(), descriptor.size());
      return true;
    }
    if (mode == 1) {
      if (offset >= model.flash.size()) return false;
      delivered = Deliver(request, model.flash.data() + offset, model.flash.size() - offset);
      return true;
    }
    return false;
  }
  if (name == "write_buffer") {
    const int mode = cdb[1];
    const uint8_t id = cdb[2];
    const uint32_t offset = Get24(cdb, 3);
    if (id != 0 || !model.answers_buffer0) return false;
    if (mode == 0x06) {
      if (!loader_mode || length != 0x10000) return false;
      loader.loader_written = true;
      return true;
    }
    if (mode == 0x0E) {
      if (loader_mode && !loader.running) return false;
      if (offset > model.flash.size() || length > model.flash.size() - offset) return false;
      if (out && length) std::memcpy(model.flash.data() + offset, out, length);
      for (uint32_t cell : model.bad_cells)
        if (cell >= offset && cell - offset < length) model.flash[cell] ^= 0xFF;
      return true;
    }
    return false;  // 0x0F and everything else: not accepted
  }
  return false;
}

}  // namespace qvb::virt
